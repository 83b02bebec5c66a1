// TForm2: the about window with the product name, version, logo, licence, acknowledgements and
// the links to the project's web pages.
#include "ui/about-window.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStringDecoder>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

namespace vellumora::ui {

namespace {

constexpr qint64 kMaxTextBytes = 1 << 20;  // more would only make the window slow
constexpr int kLogoSize = 96;

const QString kHomePage = QStringLiteral("https://vellumora.example.org/");
const QString kFaqPage = QStringLiteral("https://vellumora.example.org/faq");
const QString kIssuesPage = QStringLiteral("https://vellumora.example.org/issues");

QLabel* Caption(const QString& name, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  return label;
}

// A label that looks and acts like a link; its hint is the address it opens.
QLabel* LinkLabel(const QString& name, const QString& text, const QString& address,
                  QWidget* parent) {
  QLabel* label = Caption(name, text, parent);
  label->setToolTip(address);
  label->setCursor(Qt::PointingHandCursor);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 238));
  label->setPalette(palette);
  QFont font = label->font();
  font.setUnderline(true);
  label->setFont(font);
  return label;
}

QPlainTextEdit* Memo(const QString& name, const QString& designText, QWidget* parent) {
  auto* memo = new QPlainTextEdit(designText, parent);
  memo->setObjectName(name);
  memo->setReadOnly(true);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  return memo;
}

// Loads a UTF-8 text file into `memo`, at most its first megabyte. A missing or unreadable file,
// or anything but a plain file (a FIFO would block the window), leaves the memo as it is.
void LoadMemo(QPlainTextEdit* memo, const QString& path) {
  if (!QFileInfo(path).isFile()) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray bytes = file.read(kMaxTextBytes);
  if (bytes.isEmpty() && file.error() != QFileDevice::NoError) return;
  // A decoder that keeps state leaves a sequence cut off at the limit unfinished instead of
  // turning it into a replacement character.
  QStringDecoder decoder(QStringDecoder::Utf8);
  const QString text = decoder(bytes);
  memo->setPlainText(text);
}

}  // namespace

QIcon ProgramIcon(const QString& shareDirectory) {
  if (shareDirectory.isEmpty()) return {};
  const QString path = shareDirectory + QStringLiteral("vellumora.svg");
  if (!QFileInfo(path).isFile()) return {};
  QIcon icon(path);
  // QIcon takes any file name; only a picture it can draw makes an icon.
  if (icon.pixmap(32, 32).isNull()) return {};
  return icon;
}

TForm2::TForm2(QString shareDirectory, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint |
                          Qt::WindowTitleHint),
      shareDirectory_(std::move(shareDirectory)) {
  setObjectName(QStringLiteral("TForm2"));
  setWindowTitle(QStringLiteral("About Vellumora"));
  resize(640, 600);

  Image1_ = new QLabel(this);
  Image1_->setObjectName(QStringLiteral("Image1"));
  Image1_->setFixedSize(kLogoSize, kLogoSize);
  Image1_->setAlignment(Qt::AlignCenter);
  const QIcon icon = ProgramIcon(shareDirectory_);
  if (!icon.isNull()) {
    Image1_->setPixmap(icon.pixmap(kLogoSize, kLogoSize));
    setWindowIcon(icon);
  }

  LBname_ = Caption(QStringLiteral("LBname"), QStringLiteral("Vellumora"), this);
  QFont nameFont = LBname_->font();
  nameFont.setPixelSize(26);
  nameFont.setBold(true);
  LBname_->setFont(nameFont);
  LBversion_ =
      Caption(QStringLiteral("LBversion"), QStringLiteral("Version " VELLUMORA_VERSION), this);

  Memo1_ = Memo(QStringLiteral("Memo1"), QStringLiteral("LICENSE"), this);
  Memo2_ = Memo(QStringLiteral("Memo2"), QStringLiteral("ACKNOWLEDGEMENTS"), this);

  Label4_ =
      LinkLabel(QStringLiteral("Label4"), QStringLiteral("Vellumora home page"), kHomePage, this);
  Label7_ = LinkLabel(QStringLiteral("Label7"), QStringLiteral("FAQ"), kFaqPage, this);
  Label11_ = LinkLabel(QStringLiteral("Label11"), QStringLiteral("Issues"), kIssuesPage, this);
  for (QLabel* link : {Label4_, Label7_, Label11_}) link->installEventFilter(this);

  auto* head = new QVBoxLayout;
  head->addWidget(LBname_);
  head->addWidget(LBversion_);
  head->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(Image1_);
  top->addSpacing(12);
  top->addLayout(head, 1);

  // The links, each beside what it leads to.
  auto* links = new QGridLayout;
  links->addWidget(Caption(QStringLiteral("LBlatestInfo"),
                           QStringLiteral("For the latest information please check our "), this),
                   0, 0);
  links->addWidget(Label4_, 0, 1);
  links->addWidget(
      Caption(QStringLiteral("LBfaq"), QStringLiteral("Frequently asked questions"), this), 1, 0);
  links->addWidget(Label7_, 1, 1);
  links->addWidget(Caption(QStringLiteral("LBmanual"), QStringLiteral("User manual"), this), 2, 0);
  links->addWidget(Caption(QStringLiteral("LBcomingSoon"), QStringLiteral("coming soon"), this), 2,
                   1);
  links->addWidget(Caption(QStringLiteral("LBknownIssues"), QStringLiteral("Known issues"), this),
                   3, 0);
  links->addWidget(Label11_, 3, 1);
  links->setColumnStretch(2, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Memo1_, 3);
  layout->addLayout(links);
  layout->addWidget(Memo2_, 2);
}

void TForm2::SetProduct(const QString& productName, const QString& versionText) {
  LBname_->setText(productName);
  LBversion_->setText(QStringLiteral("Version ") + versionText);
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    QRect frame = geometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  if (shareDirectory_.isEmpty()) return;
  LoadMemo(Memo1_, shareDirectory_ + QStringLiteral("License.txt"));
  LoadMemo(Memo2_, shareDirectory_ + QStringLiteral("Acknowledgements.txt"));
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == Label4_) {
      Label4Click();
      return true;
    }
    if (watched == Label7_) {
      Label7Click();
      return true;
    }
    if (watched == Label11_) {
      Label11Click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TForm2::Label4Click() {
  QDesktopServices::openUrl(QUrl(Label4_->toolTip()));
}

void TForm2::Label7Click() {
  QDesktopServices::openUrl(QUrl(Label7_->toolTip()));
}

void TForm2::Label11Click() {
  QDesktopServices::openUrl(QUrl(Label11_->toolTip()));
}

}  // namespace vellumora::ui
