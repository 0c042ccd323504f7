#include "ui/log_control.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <climits>

#include "ui/gui_thread.h"

namespace fennwick {

namespace {
constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// One line break for CR LF, a lone CR or a lone LF; every other unit as it is.
QString Render(const QString& model, int from, int to) {
  QString out;
  out.reserve(to - from);
  for (int i = from; i < to; ++i) {
    const QChar c = model[i];
    if (c == kCr) {
      if (i + 1 < to && model[i + 1] == kLf) ++i;
      out += QChar(kLf);
    } else {
      out += c;
    }
  }
  return out;
}

bool IsTypedText(const QString& text) {
  if (text.isEmpty()) return false;
  for (QChar c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
  }
  return true;
}
}  // namespace

CLogEdit::CLogEdit(QWidget* parent) : QPlainTextEdit(parent) {
  // The widget never edits its document itself: typing, deleting, cutting and pasting go
  // through the model (keyPressEvent) so that the two cannot drift apart. Read-only with
  // a keyboard caret keeps navigation, selection and copying as the toolkit does them.
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setUndoRedoEnabled(false);
  setAcceptDrops(false);
  setTabChangesFocus(true);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  document()->setMaximumBlockCount(0);  // the trim is the log console's, by characters
  connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
    if (!updatingWidget_) TakeSelectionFromWidget();
  });
}

int CLogEdit::ToDisplay(int modelIndex) const {
  const int n = static_cast<int>(text_.size());
  modelIndex = std::clamp(modelIndex, 0, n);
  int d = 0;
  for (int i = 0; i < modelIndex; ++i, ++d) {
    if (text_[i] == kCr && i + 1 < n && text_[i + 1] == kLf) {
      if (i + 1 == modelIndex) return d;  // between a CR and its LF
      ++i;
    }
  }
  return d;
}

int CLogEdit::ToModel(int displayPos) const {
  const int n = static_cast<int>(text_.size());
  int i = 0;
  for (int d = 0; d < displayPos && i < n; ++d) {
    i += (text_[i] == kCr && i + 1 < n && text_[i + 1] == kLf) ? 2 : 1;
  }
  return i;
}

QString CLogEdit::DisplayedText() const {
  QString out;
  for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
    if (b != document()->begin()) out += QChar(kLf);
    out += b.text();
  }
  return out;
}

QString CLogEdit::NormaliseLineBreaks(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == kCr || c == kLf || c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
      if (c == kCr && i + 1 < text.size() && text[i + 1] == kLf) ++i;
      out += u"\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

// Replaces model characters [start, end) by `text` and patches the widget to match.
// Whether a CR and an LF form one line break depends on their neighbours, so the patch
// re-renders a CR just before the change and an LF just after it as well.
void CLogEdit::Replace(int start, int end, const QString& text) {
  const int n = static_cast<int>(text_.size());
  start = std::clamp(start, 0, n);
  end = std::clamp(end, start, n);
  // Keep the length countable in 32 bits whatever is pasted.
  const qsizetype room = INT_MAX - (n - (end - start));
  const QString piece = text.size() > room ? text.left(room) : text;

  const int from = (start > 0 && text_[start - 1] == kCr) ? start - 1 : start;
  const int to = (end < n && text_[end] == kLf) ? end + 1 : end;
  const int displayFrom = ToDisplay(from);
  const int displayTo = ToDisplay(to);

  text_.replace(start, end - start, piece);
  const int newTo = to + static_cast<int>(piece.size()) - (end - start);
  const QString shown = Render(text_, from, newTo);

  updatingWidget_ = true;
  QTextCursor c(document());
  c.setPosition(displayFrom);
  c.setPosition(displayTo, QTextCursor::KeepAnchor);
  if (shown.isEmpty()) {
    c.removeSelectedText();
  } else {
    c.insertText(shown);
  }
  updatingWidget_ = false;

  selStart_ = selEnd_ = caret_ = start + static_cast<int>(piece.size());
  SyncWidgetCursor(caret_, caret_);
}

void CLogEdit::SyncWidgetCursor(int anchor, int position) {
  updatingWidget_ = true;
  QTextCursor c = textCursor();
  c.setPosition(ToDisplay(anchor));
  c.setPosition(ToDisplay(position), QTextCursor::KeepAnchor);
  setTextCursor(c);
  updatingWidget_ = false;
}

void CLogEdit::TakeSelectionFromWidget() {
  const QTextCursor c = textCursor();
  const int anchor = ToModel(c.anchor());
  const int position = ToModel(c.position());
  selStart_ = std::min(anchor, position);
  selEnd_ = std::max(anchor, position);
  caret_ = position;
}

int32_t CLogEdit::GetWindowTextLength() {
  int32_t len = 0;
  RunOnOwnerThread(this, [&] { len = static_cast<int32_t>(text_.size()); });
  return len;
}

void CLogEdit::SetSel(int32_t start, int32_t end) {
  RunOnOwnerThread(this, [=, this] {
    const int n = static_cast<int>(text_.size());
    if (start < 0) {  // -1 deselects, leaving the caret where it is
      selStart_ = selEnd_ = caret_;
    } else {
      const int s = std::min<int32_t>(start, n);
      const int e = end < 0 ? n : std::min<int32_t>(end, n);  // -1 reaches the end
      selStart_ = std::min(s, e);
      selEnd_ = std::max(s, e);
      caret_ = e;
      SyncWidgetCursor(s, e);
      return;
    }
    SyncWidgetCursor(caret_, caret_);
  });
}

void CLogEdit::ScrollCaret() {
  RunOnOwnerThread(this, [this] { ensureCursorVisible(); });
}

void CLogEdit::Clear() {
  RunOnOwnerThread(this, [this] {
    if (selStart_ != selEnd_) Replace(selStart_, selEnd_, QString());
  });
}

void CLogEdit::ReplaceSel(const std::u16string& text) {
  RunOnOwnerThread(this, [&, this] {
    Replace(selStart_, selEnd_, QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  });
}

void CLogEdit::OperatorInsert(const QString& text) {
  TakeSelectionFromWidget();
  Replace(selStart_, selEnd_, text);
  ensureCursorVisible();
}

void CLogEdit::OperatorDelete(bool backward) {
  TakeSelectionFromWidget();
  int start = selStart_;
  int end = selEnd_;
  if (start == end) {
    // One visible character: a CR LF pair goes as a whole, as its line break does.
    const int d = ToDisplay(start);
    if (backward) {
      if (d == 0) return;
      start = ToModel(d - 1);
    } else {
      if (start >= text_.size()) return;
      end = ToModel(d + 1);
    }
  }
  Replace(start, end, QString());
  ensureCursorVisible();
}

void CLogEdit::OperatorCut() {
  TakeSelectionFromWidget();
  if (selStart_ == selEnd_) return;
  QApplication::clipboard()->setText(text_.mid(selStart_, selEnd_ - selStart_));
  Replace(selStart_, selEnd_, QString());
}

void CLogEdit::keyPressEvent(QKeyEvent* e) {
  if (e == QKeySequence::Paste) {
    OperatorInsert(NormaliseLineBreaks(QApplication::clipboard()->text()));
  } else if (e == QKeySequence::Cut) {
    OperatorCut();
  } else if (e == QKeySequence::Copy) {
    // The model's text, so a copied CR LF stays CR LF.
    TakeSelectionFromWidget();
    if (selStart_ != selEnd_) QApplication::clipboard()->setText(text_.mid(selStart_, selEnd_ - selStart_));
  } else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    OperatorInsert(QStringLiteral("\r\n"));
  } else if (e->key() == Qt::Key_Backspace) {
    OperatorDelete(true);
  } else if (e == QKeySequence::Delete || (e->key() == Qt::Key_Delete && e->modifiers() == Qt::NoModifier)) {
    OperatorDelete(false);
  } else if (!(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
             IsTypedText(e->text())) {
    OperatorInsert(e->text());
  } else {
    // Navigation, selection and the rest; the read-only widget cannot change its text.
    QPlainTextEdit::keyPressEvent(e);
    return;
  }
  e->accept();
}

void CLogEdit::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  QAction* cut = menu.addAction(tr("Cu&t"));
  QAction* copy = menu.addAction(tr("&Copy"));
  QAction* paste = menu.addAction(tr("&Paste"));
  menu.addSeparator();
  QAction* all = menu.addAction(tr("Select &All"));
  const bool hasSelection = textCursor().hasSelection();
  cut->setEnabled(hasSelection);
  copy->setEnabled(hasSelection);
  paste->setEnabled(!QApplication::clipboard()->text().isEmpty());
  QAction* chosen = menu.exec(e->globalPos());
  if (chosen == cut) {
    OperatorCut();
  } else if (chosen == copy) {
    TakeSelectionFromWidget();
    QApplication::clipboard()->setText(text_.mid(selStart_, selEnd_ - selStart_));
  } else if (chosen == paste) {
    OperatorInsert(NormaliseLineBreaks(QApplication::clipboard()->text()));
  } else if (chosen == all) {
    selectAll();
  }
}

}  // namespace fennwick
