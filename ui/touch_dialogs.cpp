#include "ui/touch_dialogs.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStorageInfo>
#include <QStyle>
#include <algorithm>

#include "ui/layout.h"

namespace fennwick {

namespace {

const QStringList kS19Patterns = {QStringLiteral("*.S19")};  // matched without regard to case

// A top-level window without a frame, placed over the parent's area in screen coordinates.
void PlaceOver(QDialog* dialog, QWidget* parent, int x, int y, int width, int height) {
  dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  const QPoint origin = parent != nullptr ? parent->mapToGlobal(QPoint(0, 0)) : QPoint(0, 0);
  QRect r(origin.x() + x, origin.y() + y, width, height);
  // A parent window that is partly off the screen must not take the dialog with it.
  if (const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    if (r.right() > area.right()) r.moveRight(area.right());
    if (r.bottom() > area.bottom()) r.moveBottom(area.bottom());
    if (r.left() < area.left()) r.moveLeft(area.left());
    if (r.top() < area.top()) r.moveTop(area.top());
  }
  dialog->setGeometry(r);
  dialog->setFixedSize(width, height);
}

bool IsRowFolder(const QListWidgetItem* item) { return item != nullptr && item->data(Qt::UserRole + 1).toBool(); }

QPushButton* AddButton(QWidget* parent, const QString& caption, const QString& name, const QRect& place) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(place);
  return button;
}

}  // namespace

int TouchGrid::X(int k) const { return ScaleX(k, width); }
int TouchGrid::Y(int k) const { return ScaleY(k, height); }

QString StartFolder(const QString& lastFile, const QStringList& mountPoints, const QString& home) {
  // A technician brings the firmware on a stick and swaps sticks between boards: a medium
  // that is in wins over the device's own folders. While the last file's stick is still in,
  // the next file most likely lies beside the last one; once it has been swapped, its folder
  // is gone or belongs to another stick under the same name, and that stick's top is the
  // place to start.
  const QString lastDir = lastFile.isEmpty() ? QString() : QFileInfo(lastFile).absolutePath();
  const bool lastDirThere = !lastDir.isEmpty() && QFileInfo(lastDir).isDir();
  for (const QString& mount : mountPoints) {
    if (!QFileInfo(mount).isDir()) continue;
    if (lastDirThere && (lastDir == mount || lastDir.startsWith(mount + QLatin1Char('/')))) return lastDir;
  }
  for (const QString& mount : mountPoints) {
    if (QFileInfo(mount).isDir()) return mount;
  }
  if (lastDirThere) return lastDir;
  // A service user's home may not exist (/nonexistent): the root is a folder that does.
  if (!home.isEmpty() && QFileInfo(home).isDir()) return home;
  return QDir::rootPath();
}

QStringList RemovableMounts() {
  QStringList mounts;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    if (!volume.isValid() || !volume.isReady()) continue;
    if (root.startsWith(QStringLiteral("/media/")) || root.startsWith(QStringLiteral("/run/media/"))) {
      mounts << root;
    }
  }
  mounts.sort();
  return mounts;
}

CS19FileDialog::CS19FileDialog(QWidget* parent, int screenWidth, int screenHeight, const QFont& font,
                               const QString& folder)
    : QDialog(parent), grid_{screenWidth, screenHeight} {
  setObjectName(QStringLiteral("S19FileDialog"));
  setWindowTitle(QStringLiteral("Open"));
  setFont(font);
  const TouchGrid& g = grid_;
  PlaceOver(this, parent, 0, 0, screenWidth, screenHeight);
  // Rows of 24 units: 48 px on a 480-line screen, 24 on a 240-line one.
  rowHeight_ = g.Y(24);

  // The grid as the main dialog's: 225 units across, 240 down; every control's place is
  // fixed, so nothing can be pushed off the screen by a long name or a large font.
  up_ = AddButton(this, QStringLiteral("Up"), QStringLiteral("up"), QRect(g.X(1), g.Y(2), g.X(34), g.Y(28)));
  folderLabel_ = new QLabel(this);
  folderLabel_->setObjectName(QStringLiteral("folder"));
  folderLabel_->setGeometry(g.X(38), g.Y(2), g.X(186), g.Y(28));

  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("files"));
  list_->setGeometry(g.X(1), g.Y(32), g.X(223), g.Y(146));
  list_->setUniformItemSizes(true);
  list_->setIconSize(QSize(rowHeight_ * 2 / 3, rowHeight_ * 2 / 3));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setTextElideMode(Qt::ElideMiddle);
  // A finger-wide scroll bar. (No drag-to-scroll: the toolkit's gesture recogniser for it is
  // never freed, and a tap must pick a row at once.)
  list_->verticalScrollBar()->setStyleSheet(QStringLiteral("QScrollBar:vertical { width: %1px; }").arg(g.X(16)));

  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("fileName"));
  name_->setPlaceholderText(QStringLiteral("File name"));
  name_->setGeometry(g.X(1), g.Y(181), g.X(140), g.Y(26));
  filter_ = new QComboBox(this);
  filter_->setObjectName(QStringLiteral("fileType"));
  filter_->addItem(QStringLiteral("S19 file (*.S19)"));
  filter_->setGeometry(g.X(143), g.Y(181), g.X(81), g.Y(26));

  open_ = AddButton(this, QStringLiteral("Open"), QStringLiteral("open"), QRect(g.X(113), g.Y(209), g.X(55), g.Y(30)));
  open_->setDefault(true);
  cancel_ = AddButton(this, QStringLiteral("Cancel"), QStringLiteral("cancel"),
                      QRect(g.X(169), g.Y(209), g.X(55), g.Y(30)));

  connect(up_, &QPushButton::clicked, this, [this] {
    QDir dir(folder_);
    if (dir.cdUp()) SetFolder(dir.absolutePath());
  });
  connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { TapRow(list_->row(item)); });
  connect(name_, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
  connect(name_, &QLineEdit::returnPressed, this, &CS19FileDialog::TryOpen);
  connect(open_, &QPushButton::clicked, this, &CS19FileDialog::TryOpen);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  SetFolder(folder);
}

void CS19FileDialog::SetFolder(const QString& folder) {
  QDir dir(folder);
  if (!dir.exists()) dir = QDir::home();
  folder_ = dir.absolutePath();
  folderLabel_->setText(
      folderLabel_->fontMetrics().elidedText(QDir::toNativeSeparators(folder_), Qt::ElideLeft, folderLabel_->width()));
  folderLabel_->setToolTip(folder_);

  list_->clear();
  const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
  const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
  const QFileInfoList folders =
      dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  const QFileInfoList files =
      dir.entryInfoList(kS19Patterns, QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  for (const QFileInfo& info : folders + files) {
    auto* item = new QListWidgetItem(info.isDir() ? folderIcon : fileIcon, info.fileName(), list_);
    item->setData(Qt::UserRole, info.absoluteFilePath());
    item->setData(Qt::UserRole + 1, info.isDir());
    item->setSizeHint(QSize(0, rowHeight_));
  }
  up_->setEnabled(!dir.isRoot());
  name_->clear();
  UpdateButtons();
}

void CS19FileDialog::TapRow(int row) {
  const QListWidgetItem* item = list_->item(row);
  if (item == nullptr) return;
  if (IsRowFolder(item)) {
    SetFolder(item->data(Qt::UserRole).toString());
    return;
  }
  // A finger has no double click: the second tap on the same file opens it.
  if (name_->text() == item->text()) {
    TryOpen();
    return;
  }
  list_->setCurrentRow(row);
  name_->setText(item->text());
}

void CS19FileDialog::TryOpen() {
  const QString name = name_->text().trimmed();
  if (name.isEmpty()) return;
  const QFileInfo info(QDir(folder_), name);
  if (info.isDir()) {
    SetFolder(info.absoluteFilePath());
    return;
  }
  if (!info.isFile()) {
    name_->selectAll();
    name_->setFocus();
    return;
  }
  selected_ = info.absoluteFilePath();
  accept();
}

void CS19FileDialog::UpdateButtons() { open_->setEnabled(!name_->text().trimmed().isEmpty()); }

ConfirmDialog::ConfirmDialog(QWidget* parent, int screenWidth, int screenHeight, const QFont& font,
                         const std::vector<std::string>& concerns)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ConfirmDialog"));
  setWindowTitle(QStringLiteral("Start"));
  setFont(font);
  const TouchGrid g{screenWidth, screenHeight};
  PlaceOver(this, parent, g.X(6), g.Y(16), g.X(213), g.Y(208));

  auto* frame = new QFrame(this);
  frame->setFrameShape(QFrame::Box);
  frame->setLineWidth(std::max(1, g.X(1)));
  frame->setGeometry(0, 0, width(), height());

  QString text;
  for (const std::string& concern : concerns) text += QString::fromStdString(concern) + QLatin1Char('\n');
  text += QStringLiteral("\nProgram the MCU with this file all the same?");
  text_ = new QLabel(text, this);
  text_->setObjectName(QStringLiteral("concerns"));
  text_->setWordWrap(true);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  text_->setGeometry(g.X(5), g.Y(5), g.X(203), g.Y(160));

  program_ = AddButton(this, QStringLiteral("Program anyway"), QStringLiteral("program"),
                       QRect(g.X(5), g.Y(172), g.X(100), g.Y(30)));
  program_->setAutoDefault(false);
  cancel_ = AddButton(this, QStringLiteral("Cancel"), QStringLiteral("cancel"),
                      QRect(g.X(108), g.Y(172), g.X(100), g.Y(30)));
  // Enter, like Escape, keeps the doubtful file off the MCU.
  cancel_->setDefault(true);
  cancel_->setFocus();
  connect(program_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace fennwick
