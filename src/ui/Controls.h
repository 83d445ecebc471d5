#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rlv::ui {

enum class Kind {
  Window,
  Label,
  Edit,
  ComboBox,
  CheckBox,
  Button,
  PictureButton,
  Image,
  Panel,
  GroupBox,
  PageControl,
  Page,
  Grid,
  Memo,
  ProgressBar,
  Meter,
  RadioGroup,
  CheckTree,
  ListBox,
  // A line chart of samples drawn by the front end: Items hold one sample
  // each, "seconds value1 value2"; Min and Max give the value axis.
  Chart,
};

const char* KindName(Kind kind);

// What changed, for front ends that render the model.
enum class Prop {
  Text,
  Items,
  Index,
  Checked,
  Visible,
  Enabled,
  Tag,
  Color,
  FontColor,
  Bold,
  Geometry,
  Hint,
  Cells,
  Range,
  Position,
  Nodes,
  Added,
};

// User events that front ends deliver.
enum class Event {
  Click,
  DblClick,
  Change,
  KeyUp,
  KeyPress,
  MouseMove,
  MouseLeave,
  MouseDown,
  SelectCell,
  Enter,
  Exit,
};

struct EventArgs {
  int key = 0;   // KeyUp: key code; KeyPress: the character
  int col = -1;  // SelectCell
  int row = -1;
};

// A node of a check tree: blocks at the top, tags below them.
struct TreeNode {
  std::string text;
  int parent = -1;  // index of the parent node, -1 for a top-level node
  int tag = -1;     // tag number, -1 for a node without one
  int kind = 0;     // owner-defined kind of the tag
  bool checked = false;
};

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// Colours are kept as the platform colour value 0x00BBGGRR.
constexpr uint32_t Rgb(unsigned r, unsigned g, unsigned b) {
  return r | (g << 8) | (b << 16);
}
constexpr uint32_t kNoColor = 0xFFFFFFFFu;

class ControlModel;

// One named control. Setters are for code: they notify front ends and never
// run a change rule. User actions go through ControlModel's User* operations.
class Control {
 public:
  Control(ControlModel& model, std::string name, Kind kind, std::string parent);

  const std::string& Name() const { return name_; }
  Kind GetKind() const { return kind_; }
  const std::string& Parent() const { return parent_; }

  // Caption of labels, buttons, panels, pages and check boxes; text of edits
  // and memos (lines joined by "\n"); the selected item of lists and combo boxes
  // (an editable combo box without a selection shows its own text).
  std::string Text() const;
  void SetText(const std::string& text);
  // The caption of a radio group (set with SetText), kept apart from its items;
  // for every other kind the text as set.
  const std::string& Caption() const { return text_; }

  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);
  void AddItem(const std::string& item);
  void ClearItems();
  int Index() const { return index_; }
  void SetIndex(int index);

  bool Checked() const { return checked_; }
  void SetChecked(bool checked);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  int Tag() const { return tag_; }
  void SetTag(int tag);
  uint32_t Color() const { return color_; }
  void SetColor(uint32_t color);
  uint32_t FontColor() const { return font_color_; }
  void SetFontColor(uint32_t color);
  bool Bold() const { return bold_; }
  void SetBold(bool bold);
  const Rect& Geometry() const { return geometry_; }
  void SetGeometry(const Rect& rect);
  void SetSize(int width, int height);
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& hint);

  // Edits: length limit (0 = none) and digits-only rule.
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int n) { max_length_ = n; }
  bool DigitsOnly() const { return digits_only_; }
  void SetDigitsOnly(bool on) { digits_only_ = on; }
  // Edits: the only characters typing may enter ("" = any).
  const std::string& Charset() const { return charset_; }
  void SetCharset(std::string charset) { charset_ = std::move(charset); }

  // Memos: one entry per line.
  const std::vector<std::string>& Lines() const { return items_; }
  void AddLine(const std::string& line);

  // Grids.
  int Rows() const { return rows_; }
  // A grid that shows what the program puts in it: the user selects rows of
  // it but cannot type into its cells.
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool on) { read_only_ = on; }
  int Cols() const { return cols_; }
  void SetGridSize(int cols, int rows);
  std::string Cell(int col, int row) const;
  void SetCell(int col, int row, const std::string& text);
  int SelectedCol() const { return sel_col_; }
  int SelectedRow() const { return sel_row_; }

  // Check trees.
  const std::vector<TreeNode>& Nodes() const { return nodes_; }
  void ClearNodes();
  int AddNode(const TreeNode& node);
  void SetNodeChecked(int index, bool checked);
  // A node's tick as shown: a node with children is ticked when all of them
  // are, partly ticked when some are, and its own mark is not used.
  enum class Tick { kOff, kOn, kPartial };
  Tick NodeTick(int index) const;

  // Progress bars and meters.
  int Position() const { return position_; }
  void SetPosition(int position);
  int Min() const { return min_; }
  int Max() const { return max_; }
  void SetRange(int min, int max);

 private:
  friend class ControlModel;
  void Notify(Prop prop);

  ControlModel& model_;
  std::string name_;
  Kind kind_;
  std::string parent_;
  std::string text_;
  std::vector<std::string> items_;
  int index_ = -1;
  bool checked_ = false;
  bool visible_ = true;
  bool enabled_ = true;
  int tag_ = 0;
  uint32_t color_ = kNoColor;
  uint32_t font_color_ = kNoColor;
  bool bold_ = false;
  Rect geometry_;
  std::string hint_;
  int max_length_ = 0;
  bool digits_only_ = false;
  bool read_only_ = false;
  std::string charset_;
  int rows_ = 0;
  int cols_ = 0;
  std::vector<std::string> cells_;
  int sel_col_ = -1;
  int sel_row_ = -1;
  std::vector<TreeNode> nodes_;
  int position_ = 0;
  int min_ = 0;
  int max_ = 100;
};

// The named controls of all windows, in the order they were declared.
class ControlModel {
 public:
  using Handler = std::function<void(const EventArgs&)>;
  using Observer = std::function<void(const Control&, Prop)>;

  ControlModel() = default;
  ControlModel(const ControlModel&) = delete;
  ControlModel& operator=(const ControlModel&) = delete;

  // Declares a control; `parent` is empty for a top-level window. A name may be
  // declared once.
  Control& Add(const std::string& name, Kind kind, const std::string& parent);
  Control* Find(const std::string& name);
  const Control* Find(const std::string& name) const;
  // The control by name; the name must have been declared.
  Control& operator[](const std::string& name);
  const std::vector<Control*>& All() const { return order_; }
  std::vector<Control*> Children(const std::string& parent) const;

  // A control counts as enabled only when its parents are enabled too.
  bool EffectivelyEnabled(const std::string& name) const;

  void On(const std::string& name, Event event, Handler handler);
  void Observe(Observer observer);

  // User actions. Each returns false when the control is unknown or disabled;
  // the event is then not delivered.
  bool UserClick(const std::string& name);
  bool UserDblClick(const std::string& name);
  bool UserType(const std::string& name, const std::string& text);
  bool UserKeyPress(const std::string& name, int ch);
  bool UserKeyUp(const std::string& name, int key);
  bool UserSelect(const std::string& name, int index);
  bool UserCheck(const std::string& name, bool checked);
  bool UserMouseMove(const std::string& name);
  bool UserMouseLeave(const std::string& name);
  bool UserMouseDown(const std::string& name);
  bool UserFocus(const std::string& name);
  bool UserSelectCell(const std::string& name, int col, int row);
  bool UserSetCell(const std::string& name, int col, int row, const std::string& text);
  // Ticks or unticks node `index` of a check tree (a Click with the node in args.row).
  bool UserCheckNode(const std::string& name, int index, bool checked);

  // The control that has the keyboard focus ("" when none).
  const std::string& Focused() const { return focused_; }
  // Focus moved by code (no Enter/Exit handlers run).
  void SetFocus(const std::string& name);

 private:
  friend class Control;
  void Fire(const std::string& name, Event event, const EventArgs& args = {});
  void NotifyObservers(const Control& control, Prop prop);
  bool Usable(const std::string& name) const;
  void MoveFocus(const std::string& name);

  std::map<std::string, std::unique_ptr<Control>> controls_;
  std::vector<Control*> order_;
  std::map<std::pair<std::string, Event>, Handler> handlers_;
  std::vector<Observer> observers_;
  std::string focused_;
};

}  // namespace rlv::ui
