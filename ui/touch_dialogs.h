#pragma once
// Dialogs for the device's small touch screen: the S19 file picker of Open and the
// confirmation that Start asks for a doubtful file. Both cover the window they belong to
// and scale with the screen as the main dialog does, so that every control stays on the
// screen and is large enough for a finger.
#include <QDialog>
#include <QFont>
#include <QString>
#include <QStringList>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// Where Open starts: the folder of the last file opened while it exists, else the first of
// `mountPoints` (removable media) that exists, else `home`.
QString StartFolder(const QString& lastFile, const QStringList& mountPoints, const QString& home);
// The mount points of removable media: volumes mounted under /media or /run/media, sorted.
QStringList RemovableMounts();

// Applies a grid rectangle (225 x 240 units stretched over W x H pixels) to a widget.
struct TouchGrid {
  int width = 0;
  int height = 0;
  int X(int k) const;
  int Y(int k) const;
};

class CS19FileDialog final : public QDialog {
  Q_OBJECT

 public:
  // Covers `parent` (the main window, which covers the screen); `font` is the window's.
  CS19FileDialog(QWidget* parent, int screenWidth, int screenHeight, const QFont& font, const QString& folder);

  void SetFolder(const QString& folder);
  const QString& Folder() const { return m_folder; }
  // The chosen file's full path; empty until one is chosen.
  const QString& SelectedFile() const { return m_selected; }
  // A tap on row `row`: a folder opens, a file is picked into the name field. A second tap
  // on the file already picked opens it.
  void TapRow(int row);

  QListWidget* List() const { return m_list; }
  QLineEdit* NameEdit() const { return m_name; }
  QComboBox* Filter() const { return m_filter; }
  QPushButton* UpButton() const { return m_up; }
  QPushButton* OpenButton() const { return m_open; }
  QPushButton* CancelButton() const { return m_cancel; }
  QLabel* FolderLabel() const { return m_folderLabel; }
  int RowHeight() const { return m_rowHeight; }

 private:
  void TryOpen();
  void UpdateButtons();

  TouchGrid m_grid;
  int m_rowHeight = 0;
  QString m_folder;
  QString m_selected;
  QPushButton* m_up = nullptr;
  QLabel* m_folderLabel = nullptr;
  QListWidget* m_list = nullptr;
  QLineEdit* m_name = nullptr;
  QComboBox* m_filter = nullptr;
  QPushButton* m_open = nullptr;
  QPushButton* m_cancel = nullptr;
};

// Asks whether to program a file about which `concerns` were found. Cancel is the default
// and Escape's answer.
class CConfirmDlg final : public QDialog {
  Q_OBJECT

 public:
  CConfirmDlg(QWidget* parent, int screenWidth, int screenHeight, const QFont& font,
              const std::vector<std::string>& concerns);
  QPushButton* ProgramButton() const { return m_program; }
  QPushButton* CancelButton() const { return m_cancel; }
  QLabel* Text() const { return m_text; }

 private:
  QLabel* m_text = nullptr;
  QPushButton* m_program = nullptr;
  QPushButton* m_cancel = nullptr;
};
