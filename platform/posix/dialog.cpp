// The dialog toolkit on the terminal: a form is drawn as a frame with its
// caption, its controls placed by scaling twips to character cells (one
// column is 120 twips and one row 240, a cell of 8 by 16 pixels at 96 dots
// per inch), lines as a row of '-', the picture box as a small box and
// buttons as "[ text ]". Enter presses the default button and Esc the cancel
// button; the end of input asks the form to close. While a form waits for a
// key and standard input is a terminal, the terminal is in raw mode (no echo,
// no line editing); its settings are restored on every way out, including
// the signals that end the process.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialog.h"
#include "platform/posix/output.h"
#include "platform/utf8.h"

namespace plat {
namespace {

constexpr int kTwipsPerColumn = 120;
constexpr int kTwipsPerRow = 240;

int Cells(int twips, int per_cell) { return twips >= 0 ? (twips + per_cell / 2) / per_cell : 0; }

// The terminal settings to restore, for the signal handler too.
struct termios g_saved;
volatile std::sig_atomic_t g_raw = 0;

void RestoreTerminal() {
  if (g_raw != 0) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    g_raw = 0;
  }
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RestoreAndReraise(int signal_number) {
  if (g_raw != 0) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    g_raw = 0;
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Raw mode for the lifetime of this object when standard input is a terminal.
class RawMode {
 public:
  RawMode() {
    if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &g_saved) != 0) return;
    struct sigaction action = {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &action, &previous_[i]);
    struct termios raw = g_saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_raw = 1;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0) g_raw = 0;
    active_ = true;
  }
  ~RawMode() {
    if (!active_) return;
    RestoreTerminal();
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  bool active_ = false;
  struct sigaction previous_[std::size(kEndingSignals)]{};
};

// One byte of standard input; -1 at its end or on an error.
int ReadByte() {
  for (;;) {
    unsigned char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

bool ByteWaiting(int timeout_ms) {
  pollfd fd = {STDIN_FILENO, POLLIN, 0};
  return ::poll(&fd, 1, timeout_ms) > 0;
}

enum class Key { Enter, Escape, Other, End };

// The next key: Enter (CR or LF), a lone Esc, the end of input, or anything
// else (escape sequences of cursor keys and the like are read whole).
Key NextKey() {
  const int c = ReadByte();
  if (c < 0) return Key::End;
  if (c == '\r' || c == '\n') return Key::Enter;
  if (c != 0x1B) return Key::Other;
  if (!ByteWaiting(30)) return Key::Escape;
  const int next = ReadByte();
  if (next < 0) return Key::Escape;
  if (next == '[' || next == 'O') {
    for (int b = ReadByte(); b >= 0 && !(b >= 0x40 && b <= 0x7E); b = ReadByte()) {
    }
    return Key::Other;
  }
  if (next == 0x1B) return Key::Escape;
  return next == '\r' || next == '\n' ? Key::Enter : Key::Other;
}

class Canvas {
 public:
  Canvas(int columns, int rows)
      : rows_(static_cast<std::size_t>(rows), std::u16string(static_cast<std::size_t>(columns), u' ')) {}

  void Put(int column, int row, std::u16string_view text) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    std::u16string& line = rows_[static_cast<std::size_t>(row)];
    for (std::size_t i = 0; i < text.size(); ++i) {
      const int at = column + static_cast<int>(i);
      if (at >= 0 && at < static_cast<int>(line.size())) line[static_cast<std::size_t>(at)] = text[i];
    }
  }
  const std::vector<std::u16string>& rows() const { return rows_; }

 private:
  std::vector<std::u16string> rows_;
};

// The text broken into lines of at most `width` characters at blanks (a word
// longer than a line is cut).
std::vector<std::u16string> Wrap(std::u16string_view text, int width) {
  std::vector<std::u16string> lines;
  if (width <= 0) return lines;
  const auto w = static_cast<std::size_t>(width);
  std::u16string line;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = text.find(u' ', i);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view word = text.substr(i, end - i);
    while (word.size() > w) {
      if (!line.empty()) lines.push_back(std::exchange(line, {}));
      lines.emplace_back(word.substr(0, w));
      word.remove_prefix(w);
    }
    if (!line.empty() && line.size() + 1 + word.size() > w) lines.push_back(std::exchange(line, {}));
    if (!line.empty()) line += u' ';
    line += word;
    i = end + 1;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

class TerminalToolkit final : public DialogToolkit {
 public:
  [[nodiscard]] FormId CreateForm(const FormDesign& design, FormEvents* events) override {
    Form form{&design, events, std::u16string(design.Caption), {}, false};
    for (const ControlDesign& control : design.Controls) form.texts.emplace_back(control.Text);
    const FormId id = next_++;
    forms_.emplace(id, std::move(form));
    return id;
  }

  void SetCaption(FormId id, std::u16string_view text) override {
    if (Form* form = Find(id)) {
      form->caption = text;
      Redraw(id);
    }
  }
  std::u16string Caption(FormId id) override {
    const Form* form = Find(id);
    return form != nullptr ? form->caption : std::u16string();
  }
  void SetText(FormId id, std::size_t control, std::u16string_view text) override {
    Form* form = Find(id);
    if (form == nullptr || control >= form->texts.size()) return;
    form->texts[control] = text;
    Redraw(id);
  }
  std::u16string Text(FormId id, std::size_t control) override {
    const Form* form = Find(id);
    return form != nullptr && control < form->texts.size() ? form->texts[control] : std::u16string();
  }

  void Show(FormId id, ShowMode mode) override {
    Form* form = Find(id);
    if (form == nullptr) return;
    form->shown = true;
    shown_order_.erase(std::remove(shown_order_.begin(), shown_order_.end(), id), shown_order_.end());
    shown_order_.push_back(id);
    Draw(*form);
    if (mode == ShowMode::Modal) Process([this, id] { return Find(id) == nullptr; });
  }

  void DestroyForm(FormId id) override {
    if (forms_.erase(id) == 0) return;
    const bool was_shown = std::find(shown_order_.begin(), shown_order_.end(), id) != shown_order_.end();
    shown_order_.erase(std::remove(shown_order_.begin(), shown_order_.end(), id), shown_order_.end());
    if (was_shown) {
      posix::WriteOutput("\n");
      if (!shown_order_.empty()) Draw(forms_.at(shown_order_.back()));
    }
  }

  void RunEvents() override {
    Process([this] { return shown_order_.empty(); });
  }

 private:
  struct Form {
    const FormDesign* design;
    FormEvents* events;
    std::u16string caption;
    std::vector<std::u16string> texts;
    bool shown;
  };

  Form* Find(FormId id) {
    auto it = forms_.find(id);
    return it != forms_.end() ? &it->second : nullptr;
  }

  void Redraw(FormId id) {
    Form* form = Find(id);
    if (form != nullptr && form->shown && !shown_order_.empty() && shown_order_.back() == id) Draw(*form);
  }

  // Reads keys for the top shown form until `done` holds.
  template <class Done>
  void Process(Done done) {
    RawMode raw;
    while (!done() && !shown_order_.empty()) {
      const Key key = NextKey();
      if (shown_order_.empty()) break;
      const FormId id = shown_order_.back();
      Form& form = forms_.at(id);
      switch (key) {
        case Key::Enter:
          Press(id, form, &ControlDesign::Default);
          break;
        case Key::Escape:
          Press(id, form, &ControlDesign::Cancel);
          break;
        case Key::End:
          form.events->CloseRequest(id);
          break;
        case Key::Other:
          break;
      }
      // A form that stays after the end of input would wait for ever.
      if (key == Key::End && Find(id) != nullptr) DestroyForm(id);
    }
  }

  static void Press(FormId id, Form& form, ButtonRole role) {
    const auto& controls = form.design->Controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (controls[i].Kind == ControlKind::CommandButton && controls[i].*role) {
        form.events->Click(id, i);
        return;
      }
    }
  }

  static void Draw(const Form& form) {
    const FormDesign& design = *form.design;
    const int columns = std::max(Cells(design.ClientWidth, kTwipsPerColumn), 1);
    const int rows = std::max(Cells(design.ClientHeight, kTwipsPerRow), 1);
    Canvas client(columns, rows);
    for (std::size_t i = 0; i < design.Controls.size(); ++i) {
      const ControlDesign& c = design.Controls[i];
      const std::u16string& text = form.texts[i];
      const int left = Cells(c.Left, kTwipsPerColumn);
      const int top = Cells(c.Top, kTwipsPerRow);
      const int width = std::max(Cells(c.Width, kTwipsPerColumn), 1);
      const int height = std::max(Cells(c.Height, kTwipsPerRow), 1);
      switch (c.Kind) {
        case ControlKind::Line: {
          const int row = Cells(std::min(c.Y1, c.Y2), kTwipsPerRow);
          const int from = Cells(std::min(c.X1, c.X2), kTwipsPerColumn);
          const int to = Cells(std::max(c.X1, c.X2), kTwipsPerColumn);
          client.Put(from, row, std::u16string(static_cast<std::size_t>(std::max(to - from, 1)), u'-'));
          break;
        }
        case ControlKind::Label: {
          const std::vector<std::u16string> lines = Wrap(text, width);
          for (int k = 0; k < height && k < static_cast<int>(lines.size()); ++k) {
            client.Put(left, top + k, lines[static_cast<std::size_t>(k)]);
          }
          break;
        }
        case ControlKind::CommandButton: {
          const std::u16string face = u"[ " + text + u" ]";
          const int offset = std::max((width - static_cast<int>(face.size())) / 2, 0);
          client.Put(left + offset, top + (height - 1) / 2, face);
          break;
        }
        case ControlKind::PictureBox: {
          const int w = std::max(width, 2);
          const int h = std::max(height, 2);
          const std::u16string edge = u"+" + std::u16string(static_cast<std::size_t>(w - 2), u'-') + u"+";
          client.Put(left, top, edge);
          for (int k = 1; k < h - 1; ++k) {
            client.Put(left, top + k, u"|" + std::u16string(static_cast<std::size_t>(w - 2), u'#') + u"|");
          }
          client.Put(left, top + h - 1, edge);
          break;
        }
      }
    }
    std::string out;
    if (::isatty(STDOUT_FILENO) != 0) out += "\x1b[H\x1b[2J";
    std::u16string top = u"+- " + form.caption + u" ";
    const std::size_t width = static_cast<std::size_t>(columns) + 1;  // columns is at least 1
    if (top.size() > width) top.resize(width);
    top += std::u16string(width - top.size(), u'-');
    top += u"+";
    out += ToUtf8(top) + "\n";
    for (const std::u16string& row : client.rows()) out += "|" + ToUtf8(row) + "|\n";
    out += "+" + std::string(static_cast<std::size_t>(columns), '-') + "+\n";
    posix::WriteOutput(out);
  }

  std::map<FormId, Form> forms_;
  std::vector<FormId> shown_order_;
  FormId next_ = 1;
};

}  // namespace

template <>
DialogToolkit& Backend<DialogToolkit>() {
  static TerminalToolkit toolkit;
  return toolkit;
}

}  // namespace plat
