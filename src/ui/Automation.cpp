#include "ui/Automation.h"

#include <charconv>
#include <cstring>
#include <functional>
#include <map>

#include "app/MainWindow.h"
#include "platform/EventLoop.h"

namespace rlv::ui {

// ---- Scripted dialogs ------------------------------------------------------

void ScriptedDialogs::QueueOpen(std::optional<std::string> path) {
  open_answers_.push_back(std::move(path));
}
void ScriptedDialogs::QueueSave(std::optional<std::string> path) {
  save_answers_.push_back(std::move(path));
}
void ScriptedDialogs::QueueConfirm(bool yes) {
  confirm_answers_.push_back(yes);
}

std::optional<std::string> ScriptedDialogs::OpenFile(const std::string& filter) {
  filters_.push_back(filter);
  if (open_answers_.empty()) return std::nullopt;  // nobody answers: cancelled
  auto answer = std::move(open_answers_.front());
  open_answers_.pop_front();
  return answer;
}

std::optional<std::string> ScriptedDialogs::SaveFile(const std::string& filter, const std::string&,
                                                     const std::string& suggested_path) {
  filters_.push_back(filter);
  last_save_suggestion_ = suggested_path;
  if (save_answers_.empty()) return std::nullopt;
  auto answer = std::move(save_answers_.front());
  save_answers_.pop_front();
  return answer;
}

bool ScriptedDialogs::Confirm(const std::string& text, const std::string&) {
  boxes_.push_back(text);
  if (confirm_answers_.empty()) return false;  // an unanswered question is a No
  const bool yes = confirm_answers_.front();
  confirm_answers_.pop_front();
  return yes;
}

void ScriptedDialogs::ShowMessage(const std::string& text) {
  boxes_.push_back(text);
}

// ---- Command lines ---------------------------------------------------------

void CommandLines::Feed(std::string_view bytes, std::deque<Line>& out) {
  while (!bytes.empty()) {
    const void* found = std::memchr(bytes.data(), '\n', bytes.size());
    const size_t end = found == nullptr ? bytes.size() : static_cast<const char*>(found) - bytes.data();
    const std::string_view piece = bytes.substr(0, end);
    if (!discarding_) {
      if (partial_.size() + piece.size() > kMaxLine) {
        // Reported once, now; what is left of the line is dropped.
        out.push_back(Line{std::string(), true});
        std::string().swap(partial_);
        discarding_ = true;
      } else {
        partial_.append(piece);
      }
    }
    if (found == nullptr) return;
    if (!discarding_) out.push_back(Line{std::move(partial_), false});
    partial_.clear();
    discarding_ = false;
    bytes.remove_prefix(end + 1);
  }
}

void CommandLines::Finish(std::deque<Line>& out) {
  if (!discarding_ && !partial_.empty()) out.push_back(Line{std::move(partial_), false});
  partial_.clear();
  discarding_ = false;
}

std::string CommandLines::TooLongAnswer() {
  return "error: line longer than " + std::to_string(kMaxLine) + " bytes, ignored";
}

// ---- Command interpreter ---------------------------------------------------

namespace {

constexpr const char* kBlanks = " \t";

// A word of the command as an answer repeats it: control characters are
// written as escapes, so they cannot act on the terminal or break the line.
std::string Echo(const std::string& word) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(word.size());
  for (char ch : word) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '\n') {
      out += "\\n";
    } else if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::string Escape(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    if (ch == '\n') {
      out += "\\n";
    } else if (ch != '\r') {
      out.push_back(ch);
    }
  }
  return out;
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && (value[i + 1] == 'n' || value[i + 1] == '\\')) {
      out.push_back(value[i + 1] == 'n' ? '\n' : '\\');
      ++i;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

// Removes one pair of surrounding double quotes.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    return value.substr(1, value.size() - 2);
  return value;
}

// Splits off the first word; `rest` is what follows the blanks after it.
// Blanks are spaces and tabs.
std::string NextWord(std::string& rest) {
  size_t start = rest.find_first_not_of(kBlanks);
  if (start == std::string::npos) {
    rest.clear();
    return {};
  }
  size_t end = rest.find_first_of(kBlanks, start);
  std::string word = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (end == std::string::npos) {
    rest.clear();
  } else {
    size_t next = rest.find_first_not_of(kBlanks, end);
    rest = next == std::string::npos ? std::string() : rest.substr(next);
  }
  return word;
}

bool ParseInt(const std::string& text, int& out) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last;
}

std::string Join(const std::vector<std::string>& items, const char* sep) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += sep;
    out += items[i];
  }
  return out;
}

std::string ColorText(uint32_t color) {
  if (color == kNoColor) return "";
  return std::to_string(color & 0xFF) + "," + std::to_string((color >> 8) & 0xFF) + "," +
         std::to_string((color >> 16) & 0xFF);
}

std::string Ok(const std::string& value) {
  return "ok " + Escape(value);
}
std::string Error(const std::string& reason) {
  return "error: " + Escape(reason);
}

// The value of a property as the automation prints it; nullopt for an unknown property.
std::optional<std::string> PropertyText(const Control& c, const std::string& prop) {
  const Rect& g = c.Geometry();
  if (prop == "caption" && c.GetKind() == Kind::RadioGroup) return c.Caption();
  if (prop == "text" || prop == "caption") return c.Text();
  if (prop == "visible") return c.Visible() ? "1" : "0";
  if (prop == "enabled") return c.Enabled() ? "1" : "0";
  if (prop == "checked") return c.Checked() ? "1" : "0";
  if (prop == "index") return std::to_string(c.Index());
  if (prop == "items") return Join(c.Items(), "|");
  if (prop == "count") return std::to_string(c.Items().size());
  if (prop == "color") return ColorText(c.Color());
  if (prop == "fontcolor") return ColorText(c.FontColor());
  if (prop == "bold") return c.Bold() ? "1" : "0";
  if (prop == "tag") return std::to_string(c.Tag());
  if (prop == "left") return std::to_string(g.left);
  if (prop == "top") return std::to_string(g.top);
  if (prop == "width") return std::to_string(g.width);
  if (prop == "height") return std::to_string(g.height);
  if (prop == "hint") return c.Hint();
  if (prop == "rows") return std::to_string(c.Rows());
  if (prop == "cols") return std::to_string(c.Cols());
  if (prop == "lines") return Join(c.Lines(), "\n");
  if (prop == "position") return std::to_string(c.Position());
  if (prop == "kind") return KindName(c.GetKind());
  if (prop == "nodes" || prop == "ticks") {
    std::vector<std::string> out;
    for (size_t i = 0; i < c.Nodes().size(); ++i) {
      if (prop == "nodes") {
        out.push_back(c.Nodes()[i].text);
      } else if (c.Nodes()[i].checked) {
        out.push_back(std::to_string(i));
      }
    }
    return Join(out, "|");
  }
  return std::nullopt;
}

}  // namespace

Automation::Automation(app::MainWindow& window, platform::IEventLoop& loop, ScriptedDialogs& dialogs)
    : window_(window), loop_(loop), dialogs_(dialogs) {}

std::string Automation::Execute(const std::string& line) {
  std::string rest = line;
  while (!rest.empty() &&
         (rest.back() == '\r' || rest.back() == '\n' || rest.back() == ' ' || rest.back() == '\t'))
    rest.pop_back();
  const std::string verb = NextWord(rest);
  if (verb.empty()) return Error("empty command");
  if (finished_) return Error("the window is closed");
  // Words after a command that takes none are a mistake, not something to
  // ignore: "quit now" must not close the window.
  if ((verb == "page" || verb == "boxes" || verb == "clipboard" || verb == "quit") && !rest.empty())
    return Error(verb + " takes no arguments, got \"" + Echo(rest) + "\"");
  ControlModel& model = window_.controls;

  // Commands that name a control look it up first.
  auto with_control = [&](const std::function<std::string(Control&)>& action) -> std::string {
    const std::string name = NextWord(rest);
    if (name.empty()) return Error("missing control name");
    Control* c = model.Find(name);
    if (c == nullptr) return Error("unknown control " + Echo(name));
    return action(*c);
  };
  auto user_action = [&](bool delivered, const Control& c) -> std::string {
    if (!delivered) return Error("control " + c.Name() + " is disabled");
    return "ok";
  };

  if (verb == "get") {
    return with_control([](Control& c) { return Ok(c.Text()); });
  }
  if (verb == "prop") {
    return with_control([&](Control& c) {
      const std::string prop = NextWord(rest);
      auto value = PropertyText(c, prop);
      if (!value) return Error("unknown property " + Echo(prop));
      return Ok(*value);
    });
  }
  if (verb == "cell") {
    return with_control([&](Control& c) {
      int col = 0;
      int row = 0;
      if (!ParseInt(NextWord(rest), col) || !ParseInt(NextWord(rest), row)) return Error("expected COL ROW");
      if (col < 0 || row < 0 || col >= c.Cols() || row >= c.Rows()) return Error("cell outside the grid");
      return Ok(c.Cell(col, row));
    });
  }
  if (verb == "type") {
    return with_control(
        [&](Control& c) { return user_action(model.UserType(c.Name(), Unescape(Unquote(rest))), c); });
  }
  if (verb == "select") {
    return with_control([&](Control& c) {
      int index = 0;
      if (!ParseInt(NextWord(rest), index)) return Error("expected INDEX");
      if (!model.EffectivelyEnabled(c.Name())) return Error("control " + c.Name() + " is disabled");
      if (!model.UserSelect(c.Name(), index)) return Error("no item " + std::to_string(index));
      return std::string("ok");
    });
  }
  if (verb == "check") {
    return with_control([&](Control& c) {
      const std::string value = NextWord(rest);
      if (value != "0" && value != "1") return Error("expected 0 or 1");
      return user_action(model.UserCheck(c.Name(), value == "1"), c);
    });
  }
  if (verb == "checknode") {
    return with_control([&](Control& c) {
      int index = 0;
      if (!ParseInt(NextWord(rest), index)) return Error("expected INDEX");
      const std::string value = NextWord(rest);
      if (value != "0" && value != "1") return Error("expected 0 or 1");
      if (!model.EffectivelyEnabled(c.Name())) return Error("control " + c.Name() + " is disabled");
      if (!model.UserCheckNode(c.Name(), index, value == "1"))
        return Error("no node " + std::to_string(index));
      return std::string("ok");
    });
  }
  if (verb == "click") {
    return with_control([&](Control& c) { return user_action(model.UserClick(c.Name()), c); });
  }
  if (verb == "dblclick") {
    return with_control([&](Control& c) { return user_action(model.UserDblClick(c.Name()), c); });
  }
  if (verb == "hover") {
    return with_control([&](Control& c) { return user_action(model.UserMouseMove(c.Name()), c); });
  }
  if (verb == "leave") {
    return with_control([&](Control& c) { return user_action(model.UserMouseLeave(c.Name()), c); });
  }
  if (verb == "focus") {
    return with_control([&](Control& c) { return user_action(model.UserFocus(c.Name()), c); });
  }
  if (verb == "selectcell" || verb == "setcell") {
    return with_control([&](Control& c) {
      int col = 0;
      int row = 0;
      if (!ParseInt(NextWord(rest), col) || !ParseInt(NextWord(rest), row)) return Error("expected COL ROW");
      if (col < 0 || row < 0 || col >= c.Cols() || row >= c.Rows()) return Error("cell outside the grid");
      const bool delivered = verb == "selectcell"
                                 ? model.UserSelectCell(c.Name(), col, row)
                                 : model.UserSetCell(c.Name(), col, row, Unescape(Unquote(rest)));
      return user_action(delivered, c);
    });
  }
  if (verb == "hotkey") {
    int id = 0;
    if (!ParseInt(NextWord(rest), id)) return Error("expected a hot key identifier");
    window_.OnHotKey(id);
    return "ok";
  }
  if (verb == "page") {
    return Ok(std::to_string(model["RzPageControl1"].Index()));
  }
  if (verb == "answer") {
    const std::string kind = NextWord(rest);
    const std::string value = Unquote(rest);
    if (kind == "open" || kind == "save") {
      if (value.empty()) return Error("expected PATH or cancel");
      std::optional<std::string> answer;
      if (value != "cancel") answer = value;
      if (kind == "open") {
        dialogs_.QueueOpen(answer);
      } else {
        dialogs_.QueueSave(answer);
      }
      return "ok";
    }
    if (kind == "confirm") {
      if (value != "yes" && value != "no") return Error("expected yes or no");
      dialogs_.QueueConfirm(value == "yes");
      return "ok";
    }
    return Error("expected open, save or confirm");
  }
  if (verb == "boxes") return Ok(Join(dialogs_.Boxes(), "|"));
  if (verb == "clipboard") return Ok(dialogs_.Text());
  if (verb == "wait") {
    int ms = 0;
    if (!ParseInt(NextWord(rest), ms) || ms < 0) return Error("expected MS");
    loop_.RunFor(ms);
    return "ok";
  }
  if (verb == "until") {
    const std::string name = NextWord(rest);
    const std::string prop = NextWord(rest);
    const size_t last_blank = rest.find_last_of(kBlanks);
    if (name.empty() || prop.empty() || last_blank == std::string::npos) {
      return Error("expected NAME PROPERTY VALUE TIMEOUT_MS");
    }
    int timeout = 0;
    if (!ParseInt(rest.substr(last_blank + 1), timeout) || timeout < 0) return Error("expected TIMEOUT_MS");
    std::string expected = rest.substr(0, last_blank);
    while (!expected.empty() && (expected.back() == ' ' || expected.back() == '\t')) expected.pop_back();
    expected = Unquote(expected);
    Control* c = model.Find(name);
    if (c == nullptr) return Error("unknown control " + Echo(name));
    if (!PropertyText(*c, prop)) return Error("unknown property " + Echo(prop));
    auto seen = [&] { return Escape(PropertyText(*model.Find(name), prop).value_or("")); };
    if (loop_.RunUntil([&] { return seen() == expected; }, timeout)) return "ok";
    return Error("timeout, " + Echo(prop) + " is \"" + seen() + "\"");
  }
  if (verb == "quit") {
    window_.FormClose();
    finished_ = true;
    return "ok";
  }
  return Error("unknown command " + Echo(verb));
}

}  // namespace rlv::ui
