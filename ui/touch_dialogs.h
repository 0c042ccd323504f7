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

namespace fennwick {

// Where Open starts: the folder of the last file opened while it lies on one of
// `mountPoints` (removable media) that is mounted, else the first of them that exists, else
// the last file's folder while it exists, else `home` while it exists, else the root.
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
  const QString& Folder() const { return folder_; }
  // The chosen file's full path; empty until one is chosen.
  const QString& SelectedFile() const { return selected_; }
  // A tap on row `row`: a folder opens, a file is picked into the name field. A second tap
  // on the file already picked opens it.
  void TapRow(int row);

  QListWidget* List() const { return list_; }
  QLineEdit* NameEdit() const { return name_; }
  QComboBox* Filter() const { return filter_; }
  QPushButton* UpButton() const { return up_; }
  QPushButton* OpenButton() const { return open_; }
  QPushButton* CancelButton() const { return cancel_; }
  QLabel* FolderLabel() const { return folderLabel_; }
  int RowHeight() const { return rowHeight_; }

 private:
  void TryOpen();
  void UpdateButtons();

  TouchGrid grid_;
  int rowHeight_ = 0;
  QString folder_;
  QString selected_;
  QPushButton* up_ = nullptr;
  QLabel* folderLabel_ = nullptr;
  QListWidget* list_ = nullptr;
  QLineEdit* name_ = nullptr;
  QComboBox* filter_ = nullptr;
  QPushButton* open_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

// Asks whether to program a file about which `concerns` were found. Cancel is the default
// and Escape's answer.
class ConfirmDialog final : public QDialog {
  Q_OBJECT

 public:
  ConfirmDialog(QWidget* parent, int screenWidth, int screenHeight, const QFont& font,
              const std::vector<std::string>& concerns);
  QPushButton* ProgramButton() const { return program_; }
  QPushButton* CancelButton() const { return cancel_; }
  QLabel* Text() const { return text_; }

 private:
  QLabel* text_ = nullptr;
  QPushButton* program_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace fennwick
