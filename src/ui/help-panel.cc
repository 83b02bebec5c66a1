// TKHelp: finds one paragraph of the plain-text help file and shows it in the panel.
#include "ui/help-panel.h"

#include <QPalette>

#include "platform/files.h"
#include "platform/paths.h"

namespace vellumora::ui {

namespace {

// One read takes at most this many characters of a line; a longer line arrives in pieces.
constexpr size_t kReadLimit = 255;
// The help file is a few dozen kilobytes; reading stops here so that a huge or endless file
// cannot keep the window busy while the mouse moves.
constexpr std::size_t kMaxHelpBytes = 4u << 20;

const QColor kBackground(176, 183, 193);
const QColor kNavy(0, 0, 128);

// One read of a line from `text` at `pos`: up to kReadLimit bytes, ending after a '\n' when
// one comes first. `limited` tells that the read ended at the length limit inside a line (more
// of the line follows). A '\n' right after a full read still belongs to it, so that a line of
// exactly kReadLimit characters is not followed by an empty one. False at the end of the text.
bool ReadPiece(const std::string& text, std::size_t& pos, std::string& piece, bool& limited) {
  piece.clear();
  limited = false;
  while (piece.size() < kReadLimit && pos < text.size()) {
    const char c = text[pos++];
    piece.push_back(c);
    if (c == '\n') return true;
  }
  if (piece.empty()) return false;
  if (piece.size() == kReadLimit && pos < text.size()) {
    if (text[pos] == '\n') {
      piece.push_back('\n');
      ++pos;
    } else {
      limited = true;
    }
  }
  return true;
}

}  // namespace

TKHelp::TKHelp(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QPalette colours = palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Base, kBackground);
    colours.setColor(group, QPalette::Window, kBackground);
    colours.setColor(group, QPalette::Text, kNavy);
  }
  setPalette(colours);
}

void TKHelp::GetParagraph(const std::string& name) {
  if (name == current_) return;

  std::string path;
  if (!HelpFile.empty() && HelpFile.front() == '/') {
    path = HelpFile;
  } else {
    const std::string share = ShareDirectory();
    if (share.empty() || HelpFile.empty()) return;
    path = share + HelpFile;
  }
  if (path.find('\0') != std::string::npos) return;

  // Only a regular file is read (a FIFO under its name would block the window), and at most
  // kMaxHelpBytes of it.
  std::string text;
  if (ReadRegularFile(path, &text, nullptr, kMaxHelpBytes) != ReadStatus::kRead)
    return;  // the panel keeps what it shows
  ++fileReads_;

  std::size_t pos = 0;
  std::string piece;
  bool limited = false;
  bool first = true;
  bool collecting = false;
  char marker = 0;
  while (ReadPiece(text, pos, piece, limited)) {
    std::string stored = " " + piece;
    // The last character is the line end, or, on a last line without one, its last real
    // character. A piece cut off by the length limit has no line end to lose.
    if (stored.size() > 1 && !limited) stored.pop_back();
    if (stored.size() > 1 && stored.back() == '\r') stored.pop_back();
    if (first) {
      marker = piece.front();
      first = false;
    }
    if (piece.front() == marker) {
      if (collecting) break;
      if (stored.compare(1, std::string::npos, name) == 0) {
        current_ = name;
        clear();
        collecting = true;
      }
    } else if (collecting) {
      appendPlainText(QString::fromLatin1(stored.data(), static_cast<qsizetype>(stored.size())));
    }
  }
  // Back to the top of the paragraph: appending scrolls to its end.
  if (collecting) moveCursor(QTextCursor::Start);
}

std::string LongHint(const std::string& hint) {
  const size_t bar = hint.find('|');
  return bar == std::string::npos ? hint : hint.substr(bar + 1);
}

}  // namespace vellumora::ui
