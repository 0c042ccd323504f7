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

}  // namespace

int TouchGrid::X(int k) const { return ScaleX(k, width); }
int TouchGrid::Y(int k) const { return ScaleY(k, height); }

QString StartFolder(const QString& lastFile, const QStringList& mountPoints, const QString& home) {
  if (!lastFile.isEmpty()) {
    const QString dir = QFileInfo(lastFile).absolutePath();
    if (QFileInfo(dir).isDir()) return dir;
  }
  for (const QString& mount : mountPoints) {
    if (QFileInfo(mount).isDir()) return mount;
  }
  return home;
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
    : QDialog(parent), m_grid{screenWidth, screenHeight} {
  setObjectName(QStringLiteral("S19FileDialog"));
  setWindowTitle(QStringLiteral("Open"));
  setFont(font);
  const TouchGrid& g = m_grid;
  PlaceOver(this, parent, 0, 0, screenWidth, screenHeight);
  // Rows of 24 units: 48 px on a 480-line screen, 24 on a 240-line one.
  m_rowHeight = g.Y(24);

  // The grid as the main dialog's: 225 units across, 240 down; every control's place is
  // fixed, so nothing can be pushed off the screen by a long name or a large font.
  m_up = new QPushButton(QStringLiteral("Up"), this);
  m_up->setObjectName(QStringLiteral("up"));
  m_up->setGeometry(g.X(1), g.Y(2), g.X(34), g.Y(28));
  m_folderLabel = new QLabel(this);
  m_folderLabel->setObjectName(QStringLiteral("folder"));
  m_folderLabel->setGeometry(g.X(38), g.Y(2), g.X(186), g.Y(28));

  m_list = new QListWidget(this);
  m_list->setObjectName(QStringLiteral("files"));
  m_list->setGeometry(g.X(1), g.Y(32), g.X(223), g.Y(146));
  m_list->setUniformItemSizes(true);
  m_list->setIconSize(QSize(m_rowHeight * 2 / 3, m_rowHeight * 2 / 3));
  m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  m_list->setTextElideMode(Qt::ElideMiddle);
  // A finger-wide scroll bar. (No drag-to-scroll: the toolkit's gesture recogniser for it is
  // never freed, and a tap must pick a row at once.)
  m_list->verticalScrollBar()->setStyleSheet(QStringLiteral("QScrollBar:vertical { width: %1px; }").arg(g.X(16)));

  m_name = new QLineEdit(this);
  m_name->setObjectName(QStringLiteral("fileName"));
  m_name->setPlaceholderText(QStringLiteral("File name"));
  m_name->setGeometry(g.X(1), g.Y(181), g.X(140), g.Y(26));
  m_filter = new QComboBox(this);
  m_filter->setObjectName(QStringLiteral("fileType"));
  m_filter->addItem(QStringLiteral("S19 file (*.S19)"));
  m_filter->setGeometry(g.X(143), g.Y(181), g.X(81), g.Y(26));

  m_open = new QPushButton(QStringLiteral("Open"), this);
  m_open->setObjectName(QStringLiteral("open"));
  m_open->setGeometry(g.X(113), g.Y(209), g.X(55), g.Y(30));
  m_open->setDefault(true);
  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancel->setObjectName(QStringLiteral("cancel"));
  m_cancel->setGeometry(g.X(169), g.Y(209), g.X(55), g.Y(30));

  connect(m_up, &QPushButton::clicked, this, [this] {
    QDir dir(m_folder);
    if (dir.cdUp()) SetFolder(dir.absolutePath());
  });
  connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { TapRow(m_list->row(item)); });
  connect(m_name, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
  connect(m_name, &QLineEdit::returnPressed, this, &CS19FileDialog::TryOpen);
  connect(m_open, &QPushButton::clicked, this, &CS19FileDialog::TryOpen);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

  SetFolder(folder);
}

void CS19FileDialog::SetFolder(const QString& folder) {
  QDir dir(folder);
  if (!dir.exists()) dir = QDir::home();
  m_folder = dir.absolutePath();
  m_folderLabel->setText(
      m_folderLabel->fontMetrics().elidedText(QDir::toNativeSeparators(m_folder), Qt::ElideLeft, m_folderLabel->width()));
  m_folderLabel->setToolTip(m_folder);

  m_list->clear();
  const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
  const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
  const QFileInfoList folders =
      dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  const QFileInfoList files =
      dir.entryInfoList(kS19Patterns, QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  for (const QFileInfo& info : folders + files) {
    auto* item = new QListWidgetItem(info.isDir() ? folderIcon : fileIcon, info.fileName(), m_list);
    item->setData(Qt::UserRole, info.absoluteFilePath());
    item->setData(Qt::UserRole + 1, info.isDir());
    item->setSizeHint(QSize(0, m_rowHeight));
  }
  m_up->setEnabled(!dir.isRoot());
  m_name->clear();
  UpdateButtons();
}

void CS19FileDialog::TapRow(int row) {
  const QListWidgetItem* item = m_list->item(row);
  if (item == nullptr) return;
  if (IsRowFolder(item)) {
    SetFolder(item->data(Qt::UserRole).toString());
    return;
  }
  // A finger has no double click: the second tap on the same file opens it.
  if (m_name->text() == item->text()) {
    TryOpen();
    return;
  }
  m_list->setCurrentRow(row);
  m_name->setText(item->text());
}

void CS19FileDialog::TryOpen() {
  const QString name = m_name->text().trimmed();
  if (name.isEmpty()) return;
  const QFileInfo info(QDir(m_folder), name);
  if (info.isDir()) {
    SetFolder(info.absoluteFilePath());
    return;
  }
  if (!info.isFile()) {
    m_name->selectAll();
    m_name->setFocus();
    return;
  }
  m_selected = info.absoluteFilePath();
  accept();
}

void CS19FileDialog::UpdateButtons() { m_open->setEnabled(!m_name->text().trimmed().isEmpty()); }

CConfirmDlg::CConfirmDlg(QWidget* parent, int screenWidth, int screenHeight, const QFont& font,
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
  m_text = new QLabel(text, this);
  m_text->setObjectName(QStringLiteral("concerns"));
  m_text->setWordWrap(true);
  m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_text->setGeometry(g.X(5), g.Y(5), g.X(203), g.Y(160));

  m_program = new QPushButton(QStringLiteral("Program anyway"), this);
  m_program->setObjectName(QStringLiteral("program"));
  m_program->setGeometry(g.X(5), g.Y(172), g.X(100), g.Y(30));
  m_program->setAutoDefault(false);
  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancel->setObjectName(QStringLiteral("cancel"));
  m_cancel->setGeometry(g.X(108), g.Y(172), g.X(100), g.Y(30));
  // Enter, like Escape, keeps the doubtful file off the MCU.
  m_cancel->setDefault(true);
  m_cancel->setFocus();
  connect(m_program, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}
