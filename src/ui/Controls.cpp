#include "ui/Controls.h"

#include <stdexcept>

namespace rlv::ui {

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Window:
      return "window";
    case Kind::Label:
      return "label";
    case Kind::Edit:
      return "edit";
    case Kind::ComboBox:
      return "combobox";
    case Kind::CheckBox:
      return "checkbox";
    case Kind::Button:
      return "button";
    case Kind::PictureButton:
      return "picturebutton";
    case Kind::Image:
      return "image";
    case Kind::Panel:
      return "panel";
    case Kind::GroupBox:
      return "groupbox";
    case Kind::PageControl:
      return "pagecontrol";
    case Kind::Page:
      return "page";
    case Kind::Grid:
      return "grid";
    case Kind::Memo:
      return "memo";
    case Kind::ProgressBar:
      return "progressbar";
    case Kind::Meter:
      return "meter";
    case Kind::RadioGroup:
      return "radiogroup";
    case Kind::CheckTree:
      return "checktree";
    case Kind::ListBox:
      return "listbox";
    case Kind::Chart:
      return "chart";
  }
  return "control";
}

Control::Control(ControlModel& model, std::string name, Kind kind, std::string parent)
    : model_(model), name_(std::move(name)), kind_(kind), parent_(std::move(parent)) {}

void Control::Notify(Prop prop) {
  model_.NotifyObservers(*this, prop);
}

namespace {
bool HasItemSelection(Kind kind) {
  return kind == Kind::ComboBox || kind == Kind::ListBox || kind == Kind::RadioGroup ||
         kind == Kind::PageControl;
}
}  // namespace

std::string Control::Text() const {
  if (kind_ == Kind::Memo) {
    std::string out;
    for (size_t i = 0; i < items_.size(); ++i) {
      if (i > 0) out += '\n';
      out += items_[i];
    }
    return out;
  }
  if (kind_ == Kind::ComboBox || kind_ == Kind::ListBox || kind_ == Kind::RadioGroup) {
    if (index_ >= 0 && index_ < static_cast<int>(items_.size())) return items_[static_cast<size_t>(index_)];
    return kind_ == Kind::ComboBox ? text_ : std::string();
  }
  return text_;
}

void Control::SetText(const std::string& text) {
  if (kind_ == Kind::Memo) {
    items_.clear();
    size_t start = 0;
    while (true) {
      const size_t nl = text.find('\n', start);
      if (nl == std::string::npos) {
        if (start < text.size() || !items_.empty()) items_.push_back(text.substr(start));
        break;
      }
      items_.push_back(text.substr(start, nl - start));
      start = nl + 1;
    }
    Notify(Prop::Text);
    return;
  }
  if (kind_ == Kind::ComboBox) {
    // Showing a text selects the item that reads the same, as a combo box does.
    index_ = -1;
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i] == text) {
        index_ = static_cast<int>(i);
        break;
      }
    }
  }
  text_ = text;
  Notify(Prop::Text);
}

void Control::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  if (index_ >= static_cast<int>(items_.size())) index_ = -1;
  Notify(Prop::Items);
}

void Control::AddItem(const std::string& item) {
  items_.push_back(item);
  Notify(Prop::Items);
}

void Control::ClearItems() {
  items_.clear();
  index_ = -1;
  Notify(Prop::Items);
}

void Control::SetIndex(int index) {
  if (HasItemSelection(kind_) && kind_ != Kind::PageControl &&
      (index < -1 || index >= static_cast<int>(items_.size()))) {
    index = -1;
  }
  if (index_ == index) return;
  index_ = index;
  Notify(Prop::Index);
}

void Control::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Notify(Prop::Checked);
}

void Control::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Notify(Prop::Visible);
}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Notify(Prop::Enabled);
}

void Control::SetTag(int tag) {
  tag_ = tag;
  Notify(Prop::Tag);
}

void Control::SetColor(uint32_t color) {
  if (color_ == color) return;
  color_ = color;
  Notify(Prop::Color);
}

void Control::SetFontColor(uint32_t color) {
  if (font_color_ == color) return;
  font_color_ = color;
  Notify(Prop::FontColor);
}

void Control::SetBold(bool bold) {
  if (bold_ == bold) return;
  bold_ = bold;
  Notify(Prop::Bold);
}

void Control::SetGeometry(const Rect& rect) {
  geometry_ = rect;
  Notify(Prop::Geometry);
}

void Control::SetSize(int width, int height) {
  if (geometry_.width == width && geometry_.height == height) return;
  geometry_.width = width;
  geometry_.height = height;
  Notify(Prop::Geometry);
}

void Control::SetHint(const std::string& hint) {
  hint_ = hint;
  Notify(Prop::Hint);
}

void Control::AddLine(const std::string& line) {
  items_.push_back(line);
  Notify(Prop::Text);
}

void Control::SetGridSize(int cols, int rows) {
  if (cols < 0) cols = 0;
  if (rows < 0) rows = 0;
  std::vector<std::string> cells(static_cast<size_t>(cols) * static_cast<size_t>(rows));
  for (int r = 0; r < rows && r < rows_; ++r) {
    for (int c = 0; c < cols && c < cols_; ++c) {
      cells[static_cast<size_t>(r * cols + c)] = cells_[static_cast<size_t>(r * cols_ + c)];
    }
  }
  cells_ = std::move(cells);
  cols_ = cols;
  rows_ = rows;
  Notify(Prop::Cells);
}

std::string Control::Cell(int col, int row) const {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return {};
  return cells_[static_cast<size_t>(row * cols_ + col)];
}

void Control::SetCell(int col, int row, const std::string& text) {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return;
  cells_[static_cast<size_t>(row * cols_ + col)] = text;
  Notify(Prop::Cells);
}

void Control::ClearNodes() {
  nodes_.clear();
  Notify(Prop::Nodes);
}

int Control::AddNode(const TreeNode& node) {
  nodes_.push_back(node);
  Notify(Prop::Nodes);
  return static_cast<int>(nodes_.size()) - 1;
}

void Control::SetNodeChecked(int index, bool checked) {
  if (index < 0 || index >= static_cast<int>(nodes_.size())) return;
  if (nodes_[static_cast<size_t>(index)].checked == checked) return;
  nodes_[static_cast<size_t>(index)].checked = checked;
  Notify(Prop::Nodes);
}

Control::Tick Control::NodeTick(int index) const {
  if (index < 0 || index >= static_cast<int>(nodes_.size())) return Tick::kOff;
  bool on = false;
  bool off = false;
  // Children always come after their parent.
  for (size_t i = static_cast<size_t>(index) + 1; i < nodes_.size(); ++i) {
    if (nodes_[i].parent != index) continue;
    const Tick child = NodeTick(static_cast<int>(i));
    on = on || child != Tick::kOff;
    off = off || child != Tick::kOn;
  }
  if (!on && !off) return nodes_[static_cast<size_t>(index)].checked ? Tick::kOn : Tick::kOff;
  return on && off ? Tick::kPartial : (on ? Tick::kOn : Tick::kOff);
}

void Control::SetPosition(int position) {
  if (position_ == position) return;
  position_ = position;
  Notify(Prop::Position);
}

void Control::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
  Notify(Prop::Range);
}

Control& ControlModel::Add(const std::string& name, Kind kind, const std::string& parent) {
  if (controls_.count(name) != 0) throw std::logic_error("control declared twice: " + name);
  if (!parent.empty() && controls_.count(parent) == 0) {
    throw std::logic_error("parent of " + name + " is not declared: " + parent);
  }
  auto control = std::make_unique<Control>(*this, name, kind, parent);
  Control& ref = *control;
  controls_.emplace(name, std::move(control));
  order_.push_back(&ref);
  NotifyObservers(ref, Prop::Added);
  return ref;
}

Control* ControlModel::Find(const std::string& name) {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second.get();
}

const Control* ControlModel::Find(const std::string& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second.get();
}

Control& ControlModel::operator[](const std::string& name) {
  Control* control = Find(name);
  if (control == nullptr) throw std::logic_error("unknown control: " + name);
  return *control;
}

std::vector<Control*> ControlModel::Children(const std::string& parent) const {
  std::vector<Control*> out;
  for (Control* c : order_) {
    if (c->Parent() == parent) out.push_back(c);
  }
  return out;
}

bool ControlModel::EffectivelyEnabled(const std::string& name) const {
  const Control* c = Find(name);
  while (c != nullptr) {
    if (!c->Enabled()) return false;
    c = c->Parent().empty() ? nullptr : Find(c->Parent());
  }
  return true;
}

void ControlModel::On(const std::string& name, Event event, Handler handler) {
  handlers_[{name, event}] = std::move(handler);
}

void ControlModel::Observe(Observer observer) {
  observers_.push_back(std::move(observer));
}

void ControlModel::NotifyObservers(const Control& control, Prop prop) {
  for (const auto& observer : observers_) observer(control, prop);
}

void ControlModel::Fire(const std::string& name, Event event, const EventArgs& args) {
  auto it = handlers_.find({name, event});
  if (it == handlers_.end()) return;
  // The handler may replace itself; call a copy.
  Handler handler = it->second;
  handler(args);
}

bool ControlModel::Usable(const std::string& name) const {
  return Find(name) != nullptr && EffectivelyEnabled(name);
}

void ControlModel::MoveFocus(const std::string& name) {
  if (focused_ == name) return;
  const std::string previous = focused_;
  focused_ = name;
  if (!previous.empty()) Fire(previous, Event::Exit);
  Fire(name, Event::Enter);
}

void ControlModel::SetFocus(const std::string& name) {
  focused_ = name;
}

bool ControlModel::UserClick(const std::string& name) {
  if (!Usable(name)) return false;
  Fire(name, Event::Click);
  return true;
}

bool ControlModel::UserDblClick(const std::string& name) {
  if (!Usable(name)) return false;
  Fire(name, Event::DblClick);
  return true;
}

bool ControlModel::UserType(const std::string& name, const std::string& text) {
  if (!Usable(name)) return false;
  Control& c = (*this)[name];
  MoveFocus(name);
  std::string value = text;
  if (c.DigitsOnly()) {
    std::string digits;
    for (char ch : value) {
      if (ch >= '0' && ch <= '9') digits.push_back(ch);
    }
    value = digits;
  }
  if (!c.Charset().empty()) {
    std::string kept;
    for (char ch : value) {
      if (c.Charset().find(ch) != std::string::npos) kept.push_back(ch);
    }
    value = kept;
  }
  if (c.MaxLength() > 0) {
    // The limit counts characters, not bytes of their UTF-8 form.
    int chars = 0;
    for (size_t i = 0; i < value.size(); ++i) {
      if ((static_cast<unsigned char>(value[i]) & 0xC0) == 0x80) continue;
      if (++chars > c.MaxLength()) {
        value.resize(i);
        break;
      }
    }
  }
  const bool changed = c.Text() != value;
  c.SetText(value);
  if (changed) Fire(name, Event::Change);
  Fire(name, Event::KeyUp);
  return true;
}

bool ControlModel::UserKeyPress(const std::string& name, int ch) {
  if (!Usable(name)) return false;
  MoveFocus(name);
  EventArgs args;
  args.key = ch;
  Fire(name, Event::KeyPress, args);
  return true;
}

bool ControlModel::UserKeyUp(const std::string& name, int key) {
  if (!Usable(name)) return false;
  MoveFocus(name);
  EventArgs args;
  args.key = key;
  Fire(name, Event::KeyUp, args);
  return true;
}

bool ControlModel::UserSelect(const std::string& name, int index) {
  if (!Usable(name)) return false;
  Control& c = (*this)[name];
  if (c.GetKind() != Kind::PageControl && (index < 0 || index >= static_cast<int>(c.Items().size()))) {
    return false;
  }
  c.SetIndex(index);
  // Lists report a pick as a change; radio groups as a click, as their owners expect.
  Fire(name, c.GetKind() == Kind::RadioGroup ? Event::Click : Event::Change);
  return true;
}

bool ControlModel::UserCheck(const std::string& name, bool checked) {
  if (!Usable(name)) return false;
  Control& c = (*this)[name];
  if (c.Checked() == checked) return true;
  c.SetChecked(checked);
  Fire(name, Event::Click);
  return true;
}

bool ControlModel::UserMouseMove(const std::string& name) {
  if (Find(name) == nullptr) return false;
  Fire(name, Event::MouseMove);
  return true;
}

bool ControlModel::UserMouseLeave(const std::string& name) {
  if (Find(name) == nullptr) return false;
  Fire(name, Event::MouseLeave);
  return true;
}

bool ControlModel::UserMouseDown(const std::string& name) {
  if (!Usable(name)) return false;
  Fire(name, Event::MouseDown);
  return true;
}

bool ControlModel::UserFocus(const std::string& name) {
  if (!Usable(name)) return false;
  MoveFocus(name);
  return true;
}

bool ControlModel::UserSelectCell(const std::string& name, int col, int row) {
  if (!Usable(name)) return false;
  Control& c = (*this)[name];
  if (col < 0 || row < 0 || col >= c.Cols() || row >= c.Rows()) return false;
  c.sel_col_ = col;
  c.sel_row_ = row;
  EventArgs args;
  args.col = col;
  args.row = row;
  Fire(name, Event::SelectCell, args);
  return true;
}

bool ControlModel::UserSetCell(const std::string& name, int col, int row, const std::string& text) {
  if (!Usable(name)) return false;
  Control& c = (*this)[name];
  if (c.ReadOnly() || col < 0 || row < 0 || col >= c.Cols() || row >= c.Rows()) return false;
  c.SetCell(col, row, text);
  EventArgs args;
  args.col = col;
  args.row = row;
  Fire(name, Event::Change, args);
  return true;
}

bool ControlModel::UserCheckNode(const std::string& name, int index, bool checked) {
  if (!Usable(name)) return false;
  Control& c = (*this)[name];
  if (index < 0 || index >= static_cast<int>(c.Nodes().size())) return false;
  c.SetNodeChecked(index, checked);
  // Ticking a group ticks everything under it; clearing it clears them.
  const auto& nodes = c.Nodes();
  for (size_t i = static_cast<size_t>(index) + 1; i < nodes.size(); ++i) {
    int up = nodes[i].parent;
    while (up > index && nodes[static_cast<size_t>(up)].parent < up)
      up = nodes[static_cast<size_t>(up)].parent;
    if (up == index) c.SetNodeChecked(static_cast<int>(i), checked);
  }
  EventArgs args;
  args.row = index;
  Fire(name, Event::Click, args);
  return true;
}

}  // namespace rlv::ui
