#pragma once
// The log: a plain-text widget that behaves as a multi-line edit control. Its own copy of
// the text (`Text()`) is the truth for lengths, selections and the trim, because the
// widget turns every line break, CR LF included, into one paragraph break and could not
// count a carriage return and a line feed as two characters. The widget shows that text
// with CR LF, a lone CR and a lone LF each as one line break.
#include <QPlainTextEdit>
#include <QString>

#include "ui/control_interfaces.h"

namespace fennwick {

class CLogEdit final : public QPlainTextEdit, public ILogEdit {
  Q_OBJECT

 public:
  explicit CLogEdit(QWidget* parent = nullptr);

  // ILogEdit: callable from any thread; each call is applied on the widget's own thread
  // and has taken effect when it returns.
  int32_t GetWindowTextLength() override;
  void SetSel(int32_t start, int32_t end) override;
  void ScrollCaret() override;
  void Clear() override;
  void ReplaceSel(const std::u16string& text) override;

  // Widget thread only.
  const QString& Text() const { return text_; }
  int SelectionStart() const { return selStart_; }
  int SelectionEnd() const { return selEnd_; }
  // What the widget shows, its paragraph breaks as '\n'.
  QString DisplayedText() const;
  // Model index <-> widget position. A model index between a CR and its LF maps to the
  // start of their line break.
  int ToDisplay(int modelIndex) const;
  int ToModel(int displayPos) const;

  // Line breaks of pasted text become CR LF, as typed ones do.
  static QString NormaliseLineBreaks(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  void Replace(int start, int end, const QString& text);
  void SyncWidgetCursor(int anchor, int position);
  void TakeSelectionFromWidget();
  void OperatorInsert(const QString& text);
  void OperatorDelete(bool backward);
  void OperatorCut();

  QString text_;
  int selStart_ = 0;
  int selEnd_ = 0;
  int caret_ = 0;
  bool updatingWidget_ = false;
};

}  // namespace fennwick
