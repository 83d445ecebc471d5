#include "ModelRenderer.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QEnterEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <optional>

#include "Icons.h"
#include "TopWindow.h"
#include "Widgets.h"

namespace rlv::qtw {

using ui::Control;
using ui::Kind;
using ui::Prop;

namespace {

// The main window and the areas of its frame, which keep their own places.
constexpr const char* kMainForm = "MainForm";
constexpr const char* kTitleBar = "Panel9";
constexpr const char* kTitleStrip = "Panel22";
constexpr const char* kLeftStrip = "Panel2";
constexpr const char* kPathLine = "Panel3";
constexpr const char* kPathLabel = "LConfigPath";
constexpr const char* kMessagePanel = "MESPANEL";

constexpr const char* kHelpLine = "Panel10";
constexpr const char* kPages = "RzPageControl1";
constexpr int kClientWidth = 747;
constexpr int kClientHeight = 699;
const QColor kFrameColor(62, 98, 170);

// Page controls whose tabs are never shown: the main pages and the message panel's.
bool TabsAlwaysHidden(const std::string& name) {
  return name == kPages || name == "PageControlMes";
}

bool IsFrameArea(const std::string& name) {
  return name == kTitleBar || name == "Panel6" || name == kLeftStrip || name == kPathLine || name == kPages ||
         name == kHelpLine;
}

bool IsFramePanel(const std::string& name) {
  return name == kTitleBar || name == kTitleStrip || name == kLeftStrip || name == kPathLine ||
         name == kHelpLine;
}

// Where the frame puts its areas and the controls of its bars (client coordinates
// for the areas, bar coordinates for their contents).
std::optional<QRect> FrameRect(const std::string& name) {
  static const std::pair<const char*, QRect> kRects[] = {
      {kTitleBar, {0, 0, 747, 18}},        {"Panel6", {0, 18, 747, 57}},
      {kLeftStrip, {0, 75, 73, 578}},      {kPathLine, {73, 75, 674, 19}},
      {kPages, {73, 94, 674, 559}},        {kHelpLine, {0, 653, 747, 46}},
      {"FormCaption", {6, 0, 330, 18}},    {"ComPortDeviceCaption", {336, 0, 631 - 336 - 10, 18}},
      {kTitleStrip, {631, 0, 116, 18}},    {"LangImage", {6, 2, 28, 14}},
      {"Image10", {38, 1, 16, 16}},        {"Image9", {54, 1, 16, 16}},
      {"MinzImage", {74, 0, 18, 18}},      {"CloseImage", {94, 0, 18, 18}},
      {"Image1", {0, 0, 73, 578}},         {"LConfigPath", {6, 0, 674 - 14, 19}},
      {"HelpLabel", {8, 5, 747 - 16, 38}},
  };
  for (const auto& [key, rect] : kRects) {
    if (name == key) return rect;
  }
  return std::nullopt;
}

// The configuration's path on its one line: a path too long for it loses its
// middle (the folder's start and the file's name stay) and is told whole by
// the tooltip, so it never runs over the pages below.
void ShowPath(QLabel& label, const QString& path) {
  const QString shown = label.fontMetrics().elidedText(path, Qt::ElideMiddle, label.width());
  label.setWordWrap(false);
  if (label.text() != shown) label.setText(shown);
  label.setToolTip(shown == path ? QString() : path);
}

QSize NaturalPictureSize(const std::string& name) {
  if (name.rfind("MImage", 0) == 0) return {48, 48};
  if (name == "LangImage") return {28, 14};
  if (name == "MinzImage" || name == "CloseImage") return {18, 18};
  if (name == "Image9" || name == "Image10") return {16, 16};
  if (name == "Image1") return {73, 578};
  return {32, 32};
}

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string S(const QString& text) {
  return text.toUtf8().toStdString();
}

QColor ToColor(uint32_t value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

constexpr uint32_t Bit(Prop prop) {
  return 1u << static_cast<unsigned>(prop);
}
constexpr uint32_t kAddedBit = Bit(Prop::Added);
constexpr uint32_t kAllProps = ~kAddedBit;

bool IsField(Kind kind) {
  return kind == Kind::Edit || kind == Kind::ComboBox || kind == Kind::Meter || kind == Kind::ProgressBar;
}

bool IsButtonLike(Kind kind) {
  return kind == Kind::Button || kind == Kind::PictureButton;
}

bool IsBlock(Kind kind) {
  switch (kind) {
    case Kind::Panel:
    case Kind::GroupBox:
    case Kind::PageControl:
    case Kind::Grid:
    case Kind::Memo:
    case Kind::RadioGroup:
    case Kind::CheckTree:
    case Kind::ListBox:
      return true;
    default:
      return false;
  }
}

bool IsWideBlock(Kind kind) {
  return kind == Kind::Grid || kind == Kind::Memo || kind == Kind::CheckTree || kind == Kind::ListBox ||
         kind == Kind::PageControl;
}

// Controls whose click the renderer recognises from the mouse itself.
bool ClickedByMouse(Kind kind) {
  switch (kind) {
    case Kind::Label:
    case Kind::Image:
    case Kind::PictureButton:
    case Kind::Panel:
    case Kind::Page:
    case Kind::GroupBox:
    case Kind::Meter:
    case Kind::ProgressBar:
    case Kind::CheckBox:
      return true;
    default:
      return false;
  }
}

bool TakesFocus(Kind kind) {
  switch (kind) {
    case Kind::Edit:
    case Kind::Memo:
    case Kind::ComboBox:
    case Kind::ListBox:
    case Kind::Grid:
    case Kind::CheckBox:
    case Kind::Button:
    case Kind::RadioGroup:
    case Kind::CheckTree:
      return true;
    default:
      return false;
  }
}

// The key code a key-up handler expects (the platform's virtual key numbers).
int VirtualKey(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
      return 9;
    case Qt::Key_Delete:
      return 46;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Space:
      return 32;
    default:
      break;
  }
  if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) return key;
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
  return 0;
}

int EditWidthFor(const QWidget* widget, int max_length) {
  const QFontMetrics metrics(widget->font());
  return metrics.horizontalAdvance(QLatin1Char('0')) * (max_length + 1) + 18;
}

}  // namespace

struct ModelRenderer::Node {
  Control* c = nullptr;
  QWidget* w = nullptr;        // the control's widget
  QWidget* content = nullptr;  // where its children go
  Placement placement = Placement::Flow;
  // Page controls.
  PageStack* stack = nullptr;
  QTabBar* tabs = nullptr;
  std::vector<Node*> pages;
  // Pages and panels whose children flow in columns.
  bool columns = false;
  // Radio groups.
  QButtonGroup* radios = nullptr;
  QVBoxLayout* radio_layout = nullptr;
  // Memos: the lines shown. Check trees: the items by node index.
  std::vector<std::string> lines;
  std::vector<QTreeWidgetItem*> tree_items;
};

ModelRenderer::ModelRenderer(ui::ControlModel& model) : model_(model), alive_(std::make_shared<bool>(true)) {}

ModelRenderer::~ModelRenderer() {
  *alive_ = false;
  // No event of the widgets going away may reach the model.
  for (auto& [object, name] : owners_) const_cast<QObject*>(object)->removeEventFilter(this);
  owners_.clear();
  std::vector<QWidget*> tops;
  for (auto& [name, node] : nodes_) {
    if (node->placement == Placement::TopLevel && node->w != main_frame_) tops.push_back(node->w);
  }
  for (QWidget* top : tops) delete top;
  delete main_frame_;
}

// ---------------------------------------------------------------------------
// Following the model

void ModelRenderer::Build() {
  if (built_) return;
  built_ = true;
  for (Control* control : model_.All()) Create(*control);
  Flush();
  std::shared_ptr<bool> alive = alive_;
  model_.Observe([this, alive](const Control& control, Prop prop) {
    if (*alive) OnModelChange(control, prop);
  });
}

void ModelRenderer::OnModelChange(const Control& control, Prop prop) {
  Mark(control, Bit(prop));
}

void ModelRenderer::Mark(const Control& control, uint32_t bits) {
  auto it = pending_bits_.find(&control);
  if (it == pending_bits_.end()) {
    pending_bits_.emplace(&control, bits);
    pending_order_.push_back(&control);
  } else {
    it->second |= bits;
  }
  ScheduleFlush();
}

void ModelRenderer::ScheduleFlush() {
  if (flush_scheduled_ || !built_) return;
  flush_scheduled_ = true;
  QTimer::singleShot(0, this, [this] { Flush(); });
}

void ModelRenderer::Flush() {
  flush_scheduled_ = false;
  // Controls declared meanwhile first, in the order of declaration (parents first).
  for (size_t i = 0; i < pending_order_.size(); ++i) {
    const Control* control = pending_order_[i];
    if ((pending_bits_[control] & kAddedBit) != 0 && Find(control->Name()) == nullptr) {
      Create(*model_.Find(control->Name()));
    }
  }
  const auto order = std::move(pending_order_);
  auto bits = std::move(pending_bits_);
  pending_order_.clear();
  pending_bits_.clear();
  ++updating_;
  for (const Control* control : order) {
    Node* node = Find(control->Name());
    if (node == nullptr) continue;
    const uint32_t mask = bits[control];
    for (unsigned p = 0; p <= static_cast<unsigned>(Prop::Added); ++p) {
      const Prop prop = static_cast<Prop>(p);
      if (prop != Prop::Added && (mask & Bit(prop)) != 0) Sync(*node, prop);
    }
  }
  --updating_;
  const auto dirty = std::move(dirty_layouts_);
  dirty_layouts_.clear();
  for (const std::string& name : dirty) {
    if (Node* node = Find(name)) RebuildFlow(*node);
  }
  // Overlays without a size of their own follow their contents.
  for (auto& [name, node] : nodes_) {
    if (node->placement == Placement::Overlay && node->c->Visible()) Place(*node);
  }
}

ModelRenderer::Node* ModelRenderer::Find(const std::string& name) const {
  auto it = nodes_.find(name);
  return it == nodes_.end() ? nullptr : it->second.get();
}

QWidget* ModelRenderer::Widget(const std::string& name) const {
  Node* node = Find(name);
  return node == nullptr ? nullptr : node->w;
}

QWidget* ModelRenderer::MainFrame() const {
  return main_frame_;
}

// ---------------------------------------------------------------------------
// Creating widgets

ModelRenderer::Placement ModelRenderer::PlacementOf(const Control& c) const {
  if (c.GetKind() == Kind::Window) return Placement::TopLevel;
  const Control* parent = model_.Find(c.Parent());
  if (parent == nullptr) return Placement::Flow;
  if (parent->GetKind() == Kind::PageControl && c.GetKind() == Kind::Page) return Placement::Page;
  if (parent->Name() == kMainForm) return IsFrameArea(c.Name()) ? Placement::Frame : Placement::Overlay;
  const ui::Rect& g = c.Geometry();
  const bool sized = g.width > 0 && g.height > 0;
  if (sized && (g.left != 0 || g.top != 0 || parent->GetKind() == Kind::Window)) return Placement::Absolute;
  if (IsFramePanel(parent->Name())) return Placement::Frame;
  return Placement::Flow;
}

bool ModelRenderer::InOverlay(const Control& c) const {
  for (const Control* p = &c; p != nullptr; p = model_.Find(p->Parent())) {
    Node* node = Find(p->Name());
    if (node != nullptr && node->placement == Placement::Overlay) return true;
    if (p->Parent().empty()) break;
  }
  return false;
}

ModelRenderer::Node& ModelRenderer::Create(Control& control) {
  auto owned = std::make_unique<Node>();
  Node& n = *owned;
  n.c = &control;
  nodes_[control.Name()] = std::move(owned);
  n.placement = PlacementOf(control);
  Node* parent = Find(control.Parent());
  QWidget* parent_widget = parent != nullptr ? parent->content : nullptr;
  if (n.placement == Placement::Page) parent_widget = parent->stack;
  n.w = CreateWidget(n, parent_widget);
  if (n.content == nullptr) n.content = n.w;
  Own(n.w, control.Name());
  OwnInternals(n.w, control.Name());
  Connect(n);
  if (n.placement == Placement::Page && parent != nullptr) {
    parent->stack->AddPage(n.w);
    parent->pages.push_back(&n);
    ++updating_;
    SyncTabs(*parent);
    SyncIndex(*parent);
    --updating_;
  }
  ++updating_;
  SyncAll(n);
  --updating_;
  Place(n);
  return n;
}

QWidget* ModelRenderer::CreateWidget(Node& n, QWidget* parent) {
  const Control& c = *n.c;
  const std::string& name = c.Name();
  switch (c.GetKind()) {
    case Kind::Window: {
      const bool main = name == kMainForm || main_frame_ == nullptr;
      auto* window = new TopWindow(main, main ? nullptr : main_frame_);
      if (main) {
        main_frame_ = window;
        window->on_close = [this] {
          if (close_handler_) close_handler_();
        };
        // Escape closes the panel over the others, as its close mark would.
        window->on_escape = [this, name] {
          User(name, 0, [&](ui::ControlModel& m) { m.UserKeyUp(name, 27); });
        };
      } else {
        // Escape closes a secondary window as its own close button would.
        window->on_escape = [this, name] {
          for (Control* child : model_.All()) {
            if (child->Name().find("Close") == std::string::npos) continue;
            for (const Control* p = child; p != nullptr; p = model_.Find(p->Parent())) {
              if (p->Name() == name) {
                User(child->Name(), 0, [&](ui::ControlModel& m) { m.UserClick(child->Name()); });
                return;
              }
              if (p->Parent().empty()) break;
            }
          }
        };
      }
      n.content = window->Client();
      return window;
    }
    case Kind::Label: {
      auto* label = new QLabel(parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return label;
    }
    case Kind::Edit: {
      auto* edit = new QLineEdit(parent);
      edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
      edit->setMinimumWidth(40);
      return edit;
    }
    case Kind::ComboBox: {
      auto* combo = new ComboBox(parent);
      combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
      combo->setMinimumContentsLength(6);
      combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
      return combo;
    }
    case Kind::CheckBox:
      return new CheckRow(parent);
    case Kind::Button: {
      auto* button = new QPushButton(parent);
      button->setAutoDefault(false);
      return button;
    }
    case Kind::PictureButton: {
      auto* picture = new PictureWidget(parent);
      picture->setCursor(Qt::PointingHandCursor);
      return picture;
    }
    case Kind::Image:
      return new PictureWidget(parent);
    case Kind::Panel: {
      auto* panel = new PanelWidget(parent);
      if (n.placement == Placement::Overlay) {
        // A panel over the pages: framed, its contents scroll when they do not fit.
        panel->SetBorder(kFrameColor, 2);
        panel->SetFill(Qt::white);
        auto* layout = new QVBoxLayout(panel);
        layout->setContentsMargins(2, 2, 2, 2);
        auto* scroll = new QScrollArea(panel);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto* content = new QWidget;
        content->setAutoFillBackground(false);
        scroll->setWidget(content);
        content->setAutoFillBackground(false);
        scroll->viewport()->setAutoFillBackground(false);
        layout->addWidget(scroll);
        n.content = content;
      }
      if (name == kHelpLine) panel->SetTopLine(kFrameColor);
      return panel;
    }
    case Kind::GroupBox:
      return new QGroupBox(parent);
    case Kind::PageControl: {
      auto* box = new QWidget(parent);
      auto* layout = new QVBoxLayout(box);
      layout->setContentsMargins(0, 0, 0, 0);
      layout->setSpacing(0);
      n.tabs = new QTabBar(box);
      n.tabs->setDrawBase(true);
      n.tabs->setExpanding(false);
      n.tabs->setVisible(false);
      n.stack = new PageStack(box);
      layout->addWidget(n.tabs);
      layout->addWidget(n.stack);
      n.stack->show();
      return box;
    }
    case Kind::Page: {
      const Control* owner = model_.Find(c.Parent());
      const bool fixed = owner != nullptr && owner->Geometry().width > 0 && owner->Geometry().height > 0 &&
                         model_.Find(owner->Parent()) != nullptr &&
                         model_.Find(owner->Parent())->GetKind() == Kind::Window;
      if (fixed) {
        // A page of the main page area: its groups flow in columns and scroll.
        auto* scroll = new QScrollArea(parent);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto* content = new QWidget;
        scroll->setWidget(content);
        n.content = content;
        n.columns = true;
        return scroll;
      }
      return new QWidget(parent);
    }
    case Kind::Grid: {
      auto* table = new QTableWidget(parent);
      table->horizontalHeader()->setVisible(false);
      table->verticalHeader()->setVisible(false);
      table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
      table->setSelectionMode(QAbstractItemView::SingleSelection);
      table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
      // A grid of what the program or the tracker put in it: a row is chosen whole.
      if (c.ReadOnly()) {
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
      }
      return table;
    }
    case Kind::Memo: {
      auto* memo = new QPlainTextEdit(parent);
      memo->setMinimumHeight(64);
      memo->setLineWrapMode(QPlainTextEdit::NoWrap);
      return memo;
    }
    case Kind::ProgressBar: {
      auto* bar = new QProgressBar(parent);
      bar->setTextVisible(false);
      bar->setMaximumHeight(18);
      return bar;
    }
    case Kind::Meter:
      return new MeterWidget(parent);
    case Kind::Chart:
      return new ChartWidget(parent);
    case Kind::RadioGroup: {
      auto* group = new QGroupBox(parent);
      n.radios = new QButtonGroup(group);
      n.radio_layout = new QVBoxLayout(group);
      // Tight, so that a group placed in a small box shows its title and every choice.
      n.radio_layout->setContentsMargins(6, 0, 6, 0);
      n.radio_layout->setSpacing(0);
      return group;
    }
    case Kind::CheckTree: {
      auto* tree = new QTreeWidget(parent);
      tree->setHeaderHidden(true);
      tree->setColumnCount(1);
      tree->setMinimumHeight(120);
      return tree;
    }
    case Kind::ListBox: {
      auto* list = new QListWidget(parent);
      list->setMinimumHeight(60);
      return list;
    }
  }
  return new QWidget(parent);
}

void ModelRenderer::Own(QWidget* widget, const std::string& name) {
  owners_[widget] = name;
  widget->installEventFilter(this);
  widget->setMouseTracking(true);
  const std::shared_ptr<bool> alive = alive_;
  QObject::connect(widget, &QObject::destroyed, this, [this, alive](QObject* object) {
    if (*alive) owners_.erase(object);
  });
}

void ModelRenderer::OwnInternals(QWidget* widget, const std::string& name) {
  for (QWidget* child : widget->findChildren<QWidget*>()) {
    if (owners_.count(child) == 0) Own(child, name);
  }
}

void ModelRenderer::Connect(Node& n) {
  const std::string name = n.c->Name();
  switch (n.c->GetKind()) {
    case Kind::Edit: {
      auto* edit = static_cast<QLineEdit*>(n.w);
      QObject::connect(edit, &QLineEdit::textEdited, this, [this, name](const QString& text) {
        if (updating_ > 0) return;
        typed_in_ = name;
        User(name, Bit(Prop::Text), [&](ui::ControlModel& m) { m.UserType(name, S(text)); });
      });
      break;
    }
    case Kind::Memo: {
      auto* memo = static_cast<QPlainTextEdit*>(n.w);
      Node* node = &n;
      if (name == "LOG_memo") {
        // A right click selects the whole event log, ready to be copied.
        memo->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(memo, &QPlainTextEdit::customContextMenuRequested, memo,
                         [memo](const QPoint&) { memo->selectAll(); });
      }
      QObject::connect(memo, &QPlainTextEdit::textChanged, this, [this, name, memo, node] {
        if (updating_ > 0) return;
        typed_in_ = name;
        User(name, 0, [&](ui::ControlModel& m) { m.UserType(name, S(memo->toPlainText())); });
        // The memo shows what the user typed; only a change by a handler is drawn again.
        if (node->c->Text() == S(memo->toPlainText())) {
          node->lines = node->c->Lines();
        } else {
          Mark(*node->c, Bit(Prop::Text));
        }
      });
      break;
    }
    case Kind::ComboBox: {
      auto* combo = static_cast<QComboBox*>(n.w);
      QObject::connect(combo, &QComboBox::activated, this, [this, name](int index) {
        if (updating_ > 0) return;
        User(name, Bit(Prop::Index) | Bit(Prop::Text),
             [&](ui::ControlModel& m) { m.UserSelect(name, index); });
      });
      break;
    }
    case Kind::CheckBox: {
      auto* row = static_cast<CheckRow*>(n.w);
      QObject::connect(row->Box(), &QCheckBox::clicked, this, [this, name](bool checked) {
        if (updating_ > 0) return;
        User(name, Bit(Prop::Checked), [&](ui::ControlModel& m) { m.UserCheck(name, checked); });
      });
      break;
    }
    case Kind::Button: {
      auto* button = static_cast<QPushButton*>(n.w);
      QObject::connect(button, &QPushButton::clicked, this, [this, name] {
        if (updating_ > 0) return;
        User(name, 0, [&](ui::ControlModel& m) { m.UserClick(name); });
      });
      break;
    }
    case Kind::ListBox: {
      auto* list = static_cast<QListWidget*>(n.w);
      QObject::connect(list, &QListWidget::currentRowChanged, this, [this, name](int row) {
        if (updating_ > 0 || row < 0) return;
        User(name, Bit(Prop::Index), [&](ui::ControlModel& m) { m.UserSelect(name, row); });
      });
      QObject::connect(list, &QListWidget::itemDoubleClicked, this,
                       [this, name] { User(name, 0, [&](ui::ControlModel& m) { m.UserDblClick(name); }); });
      break;
    }
    case Kind::RadioGroup:
      QObject::connect(n.radios, &QButtonGroup::idClicked, this, [this, name](int id) {
        if (updating_ > 0) return;
        User(name, Bit(Prop::Index), [&](ui::ControlModel& m) { m.UserSelect(name, id); });
      });
      break;
    case Kind::Grid: {
      auto* table = static_cast<QTableWidget*>(n.w);
      QObject::connect(table, &QTableWidget::currentCellChanged, this,
                       [this, name](int row, int col, int, int) {
                         if (updating_ > 0 || row < 0 || col < 0) return;
                         User(name, 0, [&](ui::ControlModel& m) { m.UserSelectCell(name, col, row); });
                       });
      QObject::connect(table, &QTableWidget::itemChanged, this, [this, name](QTableWidgetItem* item) {
        if (updating_ > 0 || item == nullptr) return;
        const int row = item->row();
        const int col = item->column();
        const std::string text = S(item->text());
        User(name, Bit(Prop::Cells), [&](ui::ControlModel& m) { m.UserSetCell(name, col, row, text); });
      });
      QObject::connect(table, &QTableWidget::cellDoubleClicked, this,
                       [this, name] { User(name, 0, [&](ui::ControlModel& m) { m.UserDblClick(name); }); });
      break;
    }
    case Kind::CheckTree: {
      auto* tree = static_cast<QTreeWidget*>(n.w);
      QObject::connect(tree, &QTreeWidget::itemChanged, this, [this, name](QTreeWidgetItem* item, int) {
        if (updating_ > 0 || item == nullptr) return;
        const int index = item->data(0, Qt::UserRole).toInt();
        const bool checked = item->checkState(0) == Qt::Checked;
        User(name, Bit(Prop::Nodes), [&](ui::ControlModel& m) { m.UserCheckNode(name, index, checked); });
      });
      break;
    }
    case Kind::PageControl:
      QObject::connect(n.tabs, &QTabBar::currentChanged, this, [this, name](int index) {
        if (updating_ > 0 || index < 0) return;
        User(name, Bit(Prop::Index), [&](ui::ControlModel& m) { m.UserSelect(name, index); });
      });
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------
// Placing widgets

void ModelRenderer::Place(Node& n) {
  const Control& c = *n.c;
  const ui::Rect& g = c.Geometry();
  const bool sized = g.width > 0 && g.height > 0;
  switch (n.placement) {
    case Placement::TopLevel: {
      auto* window = static_cast<TopWindow*>(n.w);
      window->SetClientSize(sized ? QSize(g.width, g.height) : QSize(kClientWidth, kClientHeight));
      return;
    }
    case Placement::Page:
      return;
    case Placement::Absolute:
      n.w->setGeometry(g.left, g.top, g.width, g.height);
      return;
    case Placement::Frame: {
      std::optional<QRect> rect;
      if (sized) rect = QRect(g.left, g.top, g.width, g.height);
      if (!rect) rect = FrameRect(c.Name());
      if (!rect) rect = QRect(QPoint(0, 0), n.w->sizeHint());
      if (!sized && (c.Name() == "FormCaption" || c.Name() == "ComPortDeviceCaption")) {
        // The title bar's texts are as wide as they read, so that the bar
        // between them is free for dragging the window.
        const int width = std::min(rect->width(), n.w->sizeHint().width());
        if (c.Name() == "ComPortDeviceCaption") rect->setLeft(rect->right() - width + 1);
        rect->setWidth(width);
      }
      n.w->setGeometry(*rect);
      if (auto* label = qobject_cast<QLabel*>(n.w)) {
        if (c.Name() == "HelpLabel") {
          label->setWordWrap(true);
          label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        } else if (c.Name() == "ComPortDeviceCaption" || c.Name() == kPathLabel) {
          label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        if (c.Name() == kPathLabel) ShowPath(*label, Q(c.Text()));
      }
      return;
    }
    case Placement::Overlay: {
      QWidget* area = n.w->parentWidget();
      const QSize client = area != nullptr ? area->size() : QSize(kClientWidth, kClientHeight);
      QSize size;
      if (sized) {
        size = QSize(g.width, g.height);
      } else {
        const QSize hint = n.w->sizeHint();
        const int width = std::clamp(hint.width(), std::min(360, client.width() - 40), client.width() - 40);
        int height = n.w->hasHeightForWidth() ? n.w->heightForWidth(width) : hint.height();
        if (n.content != n.w && n.content->layout() != nullptr) {
          // Contents in a scroll area: as tall as they need, within the window.
          height = n.content->layout()->totalHeightForWidth(width - 4) + 4;
          if (height <= 4) height = n.content->sizeHint().height() + 4;
        }
        size = QSize(width, std::clamp(height, 40, client.height() - 40));
      }
      QPoint pos;
      if (g.left != 0 || g.top != 0) {
        pos = QPoint(g.left, g.top);
      } else {
        pos = QPoint((client.width() - size.width()) / 2, (client.height() - size.height()) / 2);
      }
      if (n.w->geometry() != QRect(pos, size)) n.w->setGeometry(QRect(pos, size));
      return;
    }
    case Placement::Flow:
      MarkLayoutDirty(c.Parent());
      return;
  }
}

void ModelRenderer::MarkLayoutDirty(const std::string& container) {
  if (std::find(dirty_layouts_.begin(), dirty_layouts_.end(), container) == dirty_layouts_.end()) {
    dirty_layouts_.push_back(container);
  }
  ScheduleFlush();
}

void ModelRenderer::RebuildFlow(Node& p) {
  QWidget* content = p.content;
  if (p.c->GetKind() == Kind::PageControl || p.c->GetKind() == Kind::RadioGroup) return;
  std::vector<Node*> items;
  for (Control* child : model_.Children(p.c->Name())) {
    Node* node = Find(child->Name());
    if (node != nullptr && node->placement == Placement::Flow) items.push_back(node);
  }
  delete content->layout();
  if (items.empty()) return;

  const bool centred = InOverlay(*p.c);
  const Kind kind = p.c->GetKind();
  // Memos and check trees take the height a container has to spare.
  const auto expands = [](const Node* item) {
    return item->c->GetKind() == Kind::Memo || item->c->GetKind() == Kind::CheckTree;
  };
  const bool any_expanding = std::any_of(items.begin(), items.end(), expands);
  ColumnFlowLayout* columns = nullptr;
  QVBoxLayout* stack = nullptr;
  if (p.columns) {
    columns = new ColumnFlowLayout(content, 300, 2);
    columns->setContentsMargins(10, 10, 10, 10);
    columns->setSpacing(10);
  } else {
    stack = new QVBoxLayout(content);
    stack->setSpacing(6);
    if (kind == Kind::GroupBox) {
      stack->setContentsMargins(8, 4, 8, 8);
    } else if (kind == Kind::Panel && p.placement == Placement::Overlay) {
      stack->setContentsMargins(14, 12, 14, 12);
      // Centred in the panel when it is taller than its contents.
      if (!any_expanding) stack->addStretch(1);
    } else if (kind == Kind::Panel && p.c->Color() != ui::kNoColor &&
               p.c->Color() != ui::Rgb(255, 255, 255)) {
      stack->setContentsMargins(3, 3, 3, 3);
    } else if (kind == Kind::Panel) {
      stack->setContentsMargins(0, 0, 0, 0);
    } else {
      stack->setContentsMargins(8, 8, 8, 8);
    }
  }
  const auto add_widget = [&](const Node* item, bool wide) {
    if (columns != nullptr) {
      columns->AddWidget(item->w, wide);
    } else {
      stack->addWidget(item->w, expands(item) ? 1 : 0);
    }
  };
  const auto add_layout = [&](QLayout* layout) {
    if (columns != nullptr) {
      columns->AddSubLayout(layout, false);
    } else {
      stack->addLayout(layout);
    }
  };
  const auto new_rows = [&]() {
    auto* rows = new FormRowsLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    add_layout(rows);
    return rows;
  };
  const auto wrap_label = [](QWidget* widget) {
    auto* label = static_cast<QLabel*>(widget);
    label->setWordWrap(true);
  };
  const auto narrow = [](const Node* field) {
    return field->c->GetKind() == Kind::Edit && field->c->MaxLength() > 0 && field->c->MaxLength() <= 16;
  };
  constexpr int kRowsPerColumnBlock = 10;

  size_t i = 0;
  while (i < items.size()) {
    const Kind k = items[i]->c->GetKind();
    if (IsBlock(k)) {
      add_widget(items[i], IsWideBlock(k));
      ++i;
      continue;
    }
    // A run of rows: labels beside their fields, check boxes, buttons.
    FormRowsLayout* rows = new_rows();
    int row = 0;
    while (i < items.size() && !IsBlock(items[i]->c->GetKind())) {
      if (columns != nullptr && row >= kRowsPerColumnBlock) {
        rows = new_rows();
        row = 0;
      }
      Node* item = items[i];
      const Kind kind_i = item->c->GetKind();
      const bool pair = kind_i == Kind::Label && i + 1 < items.size() && IsField(items[i + 1]->c->GetKind());
      if (pair) {
        wrap_label(item->w);
        rows->AddPair(item->w, items[i + 1]->w, narrow(items[i + 1]));
        i += 2;
      } else if (IsButtonLike(kind_i)) {
        auto* wrap = new WrapLayout(centred);
        wrap->setSpacing(6);
        rows->AddRowLayout(wrap);
        while (i < items.size() && IsButtonLike(items[i]->c->GetKind())) {
          wrap->addWidget(items[i]->w);
          ++i;
        }
      } else if (kind_i == Kind::Label) {
        wrap_label(item->w);
        rows->AddRow(item->w, false);
        ++i;
      } else {
        rows->AddRow(item->w, kind_i == Kind::Image || narrow(item));
        ++i;
      }
      ++row;
    }
  }
  if (stack != nullptr && !any_expanding) stack->addStretch(1);
  // Widgets taken into a layout are shown unless the model hides them.
  for (Node* item : items) item->w->setVisible(item->c->Visible());
}

// ---------------------------------------------------------------------------
// Model to widgets

void ModelRenderer::SyncAll(Node& n) {
  for (Prop prop :
       {Prop::Items, Prop::Text, Prop::Index, Prop::Checked, Prop::Enabled, Prop::Color, Prop::FontColor,
        Prop::Bold, Prop::Hint, Prop::Cells, Prop::Range, Prop::Position, Prop::Nodes, Prop::Visible}) {
    Sync(n, prop);
  }
}

void ModelRenderer::Sync(Node& n, Prop prop) {
  const Control& c = *n.c;
  const Kind kind = c.GetKind();
  switch (prop) {
    case Prop::Text:
      SyncText(n);
      break;
    case Prop::Items:
      SyncItems(n);
      break;
    case Prop::Index:
      SyncIndex(n);
      break;
    case Prop::Checked:
      if (kind == Kind::CheckBox) {
        QCheckBox* box = static_cast<CheckRow*>(n.w)->Box();
        if (box->isChecked() != c.Checked()) box->setChecked(c.Checked());
      }
      break;
    case Prop::Visible:
      if (kind == Kind::Window) {
        SyncWindowVisible(n);
      } else if (kind == Kind::Page) {
        if (Node* owner = Find(c.Parent())) SyncTabs(*owner);
      } else if (n.w->isHidden() == c.Visible()) {
        // What changed inside while hidden is laid out anew when shown.
        if (c.Visible()) RefreshLayouts(n.w);
        n.w->setVisible(c.Visible());
        // Tab captions renamed while hidden (a language switch) keep the widths
        // of the old ones until the bar is measured again, now that it shows.
        if (c.Visible()) {
          for (QTabBar* tabs : n.w->findChildren<QTabBar*>()) tabs->setIconSize(tabs->iconSize());
        }
        if (n.placement == Placement::Overlay && c.Visible()) {
          // Over the pages and over any panel shown before it.
          Place(n);
          n.w->raise();
        }
        if (n.placement == Placement::Overlay) KeepMessageOnTop();
      }
      break;
    case Prop::Enabled:
      if (kind == Kind::Window) {
        // A disabled main window is one behind a modal window; Qt's modality
        // keeps it from input without greying every control.
        if (n.content != nullptr && n.w != main_frame_) n.content->setEnabled(c.Enabled());
      } else if (kind == Kind::Page) {
        if (Node* owner = Find(c.Parent())) SyncTabs(*owner);
        n.w->setEnabled(c.Enabled());
      } else {
        n.w->setEnabled(c.Enabled());
      }
      break;
    case Prop::Color:
    case Prop::FontColor:
      SyncColors(n);
      break;
    case Prop::Bold: {
      QFont font = n.w->font();
      if (font.bold() != c.Bold()) {
        font.setBold(c.Bold());
        n.w->setFont(font);
        if (n.placement == Placement::Frame) Place(n);
      }
      break;
    }
    case Prop::Geometry: {
      const Placement before = n.placement;
      n.placement = PlacementOf(c);
      if (before == Placement::Flow || n.placement == Placement::Flow) MarkLayoutDirty(c.Parent());
      Place(n);
      break;
    }
    case Prop::Hint:
      n.w->setToolTip(Q(c.Hint()));
      break;
    case Prop::Tag:
      break;
    case Prop::Cells:
      SyncCells(n);
      break;
    case Prop::Range:
    case Prop::Position:
      if (kind == Kind::ProgressBar) {
        auto* bar = static_cast<QProgressBar*>(n.w);
        if (bar->minimum() != c.Min() || bar->maximum() != c.Max()) bar->setRange(c.Min(), c.Max());
        if (bar->value() != c.Position()) bar->setValue(std::clamp(c.Position(), c.Min(), c.Max()));
      } else if (kind == Kind::Meter) {
        static_cast<MeterWidget*>(n.w)->SetValue(c.Min(), c.Max(), c.Position());
      } else if (kind == Kind::Chart) {
        static_cast<ChartWidget*>(n.w)->SetSamples(c.Items(), c.Min(), c.Max());
      }
      break;
    case Prop::Nodes:
      SyncNodes(n);
      break;
    case Prop::Added:
      break;
  }
}

void ModelRenderer::SyncText(Node& n) {
  const Control& c = *n.c;
  switch (c.GetKind()) {
    case Kind::Label: {
      auto* label = static_cast<QLabel*>(n.w);
      if (c.Name() == kPathLabel) {
        ShowPath(*label, Q(c.Text()));
        break;
      }
      const QString text = Q(c.Text());
      if (label->text() != text) {
        label->setText(text);
        if (n.placement == Placement::Frame) Place(n);
      }
      break;
    }
    case Kind::Chart:
      static_cast<ChartWidget*>(n.w)->SetCaption(Q(c.Text()));
      break;
    case Kind::Edit: {
      auto* edit = static_cast<QLineEdit*>(n.w);
      const int max_length = c.MaxLength() > 0 ? c.MaxLength() : 32767;
      if (edit->maxLength() != max_length) edit->setMaxLength(max_length);
      if (c.MaxLength() > 0 && c.MaxLength() <= 16) {
        edit->setMaximumWidth(std::max(48, EditWidthFor(edit, c.MaxLength())));
      }
      if (c.DigitsOnly() != (edit->validator() != nullptr)) {
        if (c.DigitsOnly()) {
          edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
        } else {
          delete edit->validator();
          edit->setValidator(nullptr);
        }
      }
      const QString text = Q(c.Text());
      if (edit->text() != text) {
        const int cursor = edit->cursorPosition();
        edit->setText(text);
        edit->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
      }
      break;
    }
    case Kind::ComboBox:
    case Kind::ListBox:
    case Kind::RadioGroup:
      SyncIndex(n);
      break;
    case Kind::CheckBox:
      static_cast<CheckRow*>(n.w)->SetText(Q(c.Text()));
      break;
    case Kind::Button: {
      auto* button = static_cast<QPushButton*>(n.w);
      const QString text = Q(c.Text());
      if (button->text() != text) button->setText(text);
      break;
    }
    case Kind::PictureButton:
    case Kind::Image:
      SyncPicture(n);
      break;
    case Kind::Panel:
      static_cast<PanelWidget*>(n.w)->SetCaption(Q(c.Text()));
      break;
    case Kind::GroupBox:
      static_cast<QGroupBox*>(n.w)->setTitle(Q(c.Text()));
      break;
    case Kind::Page:
      if (Node* owner = Find(c.Parent())) SyncTabs(*owner);
      break;
    case Kind::Memo:
      SyncMemo(n);
      break;
    case Kind::Window:
      n.w->setWindowTitle(Q(c.Text()));
      break;
    default:
      break;
  }
}

void ModelRenderer::SyncItems(Node& n) {
  const Control& c = *n.c;
  QStringList items;
  for (const std::string& item : c.Items()) items.push_back(Q(item));
  switch (c.GetKind()) {
    case Kind::ComboBox: {
      auto* combo = static_cast<QComboBox*>(n.w);
      QStringList shown;
      for (int i = 0; i < combo->count(); ++i) shown.push_back(combo->itemText(i));
      if (shown != items) {
        combo->clear();
        combo->addItems(items);
      }
      SyncIndex(n);
      break;
    }
    case Kind::Chart:
      static_cast<ChartWidget*>(n.w)->SetSamples(c.Items(), c.Min(), c.Max());
      break;
    case Kind::ListBox: {
      auto* list = static_cast<QListWidget*>(n.w);
      QStringList shown;
      for (int i = 0; i < list->count(); ++i) shown.push_back(list->item(i)->text());
      if (shown != items) {
        list->clear();
        list->addItems(items);
        const int row = list->fontMetrics().height() + 4;
        list->setFixedHeight(std::clamp(static_cast<int>(items.size()), 3, 10) * row +
                             2 * list->frameWidth() + 2);
      }
      SyncIndex(n);
      break;
    }
    case Kind::RadioGroup: {
      if (auto* group = qobject_cast<QGroupBox*>(n.w)) group->setTitle(QString::fromStdString(c.Caption()));
      const auto buttons = n.radios->buttons();
      bool same = buttons.size() == items.size();
      for (qsizetype i = 0; same && i < items.size(); ++i)
        same = n.radios->button(static_cast<int>(i))->text() == items[i];
      if (!same) {
        for (QAbstractButton* button : buttons) {
          n.radios->removeButton(button);
          delete button;
        }
        for (qsizetype i = 0; i < items.size(); ++i) {
          auto* radio = new QRadioButton(items[i], n.w);
          n.radios->addButton(radio, static_cast<int>(i));
          n.radio_layout->addWidget(radio);
          Own(radio, c.Name());
        }
      }
      SyncIndex(n);
      break;
    }
    default:
      break;
  }
}

void ModelRenderer::SyncIndex(Node& n) {
  const Control& c = *n.c;
  const int index = c.Index();
  switch (c.GetKind()) {
    case Kind::ComboBox: {
      auto* combo = static_cast<QComboBox*>(n.w);
      const int shown = index < combo->count() ? index : -1;
      if (combo->currentIndex() != shown) combo->setCurrentIndex(shown);
      const QString placeholder = shown < 0 ? Q(c.Text()) : QString();
      if (combo->placeholderText() != placeholder) combo->setPlaceholderText(placeholder);
      break;
    }
    case Kind::ListBox: {
      auto* list = static_cast<QListWidget*>(n.w);
      if (list->currentRow() != index) list->setCurrentRow(index < list->count() ? index : -1);
      break;
    }
    case Kind::RadioGroup: {
      QAbstractButton* button = n.radios->button(index);
      if (button != nullptr) {
        if (!button->isChecked()) button->setChecked(true);
      } else if (QAbstractButton* checked = n.radios->checkedButton()) {
        n.radios->setExclusive(false);
        checked->setChecked(false);
        n.radios->setExclusive(true);
      }
      break;
    }
    case Kind::PageControl:
      n.stack->ShowPage(index);
      if (index >= 0 && index < n.tabs->count() && n.tabs->currentIndex() != index)
        n.tabs->setCurrentIndex(index);
      break;
    case Kind::Image:
    case Kind::PictureButton:
      SyncPicture(n);
      break;
    default:
      break;
  }
}

void ModelRenderer::SyncTabs(Node& p) {
  if (p.tabs == nullptr) return;
  bool any_caption = false;
  for (size_t i = 0; i < p.pages.size(); ++i) {
    const Control& page = *p.pages[i]->c;
    const int index = static_cast<int>(i);
    if (p.tabs->count() <= index) p.tabs->addTab(QString());
    if (p.tabs->tabText(index) != Q(page.Text())) p.tabs->setTabText(index, Q(page.Text()));
    p.tabs->setTabVisible(index, page.Visible());
    p.tabs->setTabEnabled(index, page.Enabled());
    any_caption = any_caption || !page.Text().empty();
  }
  const bool show = !TabsAlwaysHidden(p.c->Name()) && any_caption;
  if (p.tabs->isHidden() == show) p.tabs->setVisible(show);
  const int index = p.c->Index();
  if (index >= 0 && index < p.tabs->count() && p.tabs->currentIndex() != index)
    p.tabs->setCurrentIndex(index);
}

void ModelRenderer::SyncColors(Node& n) {
  const Control& c = *n.c;
  const Kind kind = c.GetKind();
  const bool has_color = c.Color() != ui::kNoColor;
  const bool has_font = c.FontColor() != ui::kNoColor;
  const QColor color = ToColor(c.Color());
  const QColor font = ToColor(c.FontColor());
  QPalette palette;
  const auto text_roles = [&](const QColor& value) {
    palette.setColor(QPalette::WindowText, value);
    palette.setColor(QPalette::Text, value);
    palette.setColor(QPalette::ButtonText, value);
  };
  if (has_font) {
    text_roles(font);
  } else if (c.Name() == kTitleBar) {
    // The title bar's texts are white on the frame colour.
    text_roles(Qt::white);
  }
  switch (kind) {
    case Kind::Window:
      static_cast<TopWindow*>(n.w)->SetClientColor(has_color ? color : QColor(Qt::white));
      if (has_font) n.content->setPalette(palette);
      return;
    case Kind::Panel:
      if (n.placement == Placement::Overlay) {
        // A panel over the pages is white inside a frame; a colour of its own fills it.
        const bool own_fill = has_color && c.Color() != ui::Rgb(62, 98, 170);
        static_cast<PanelWidget*>(n.w)->SetFill(own_fill ? color : QColor(Qt::white));
      } else {
        static_cast<PanelWidget*>(n.w)->SetFill(has_color ? color : QColor());
      }
      break;
    case Kind::Edit:
    case Kind::Memo:
    case Kind::ComboBox:
    case Kind::Grid:
    case Kind::ListBox:
    case Kind::CheckTree:
      if (has_color) palette.setColor(QPalette::Base, color);
      break;
    default:
      if (has_color) {
        palette.setColor(QPalette::Window, color);
        n.w->setAutoFillBackground(true);
      } else {
        n.w->setAutoFillBackground(false);
      }
      break;
  }
  if (kind == Kind::Page && n.columns) {
    // A page of the main page area: white under its groups.
    palette.setColor(QPalette::Window, has_color ? color : QColor(Qt::white));
    n.content->setPalette(palette);
    n.content->setAutoFillBackground(true);
  }
  n.w->setPalette(palette);
}

void ModelRenderer::SyncCells(Node& n) {
  if (n.c->GetKind() != Kind::Grid) return;
  const Control& c = *n.c;
  auto* table = static_cast<QTableWidget*>(n.w);
  if (table->rowCount() != c.Rows()) table->setRowCount(c.Rows());
  if (table->columnCount() != c.Cols()) table->setColumnCount(c.Cols());
  // The first row holds the column headings when the grid has rows below it.
  const bool heading = c.Rows() > 1;
  for (int row = 0; row < c.Rows(); ++row) {
    for (int col = 0; col < c.Cols(); ++col) {
      const QString text = Q(c.Cell(col, row));
      QTableWidgetItem* item = table->item(row, col);
      if (item == nullptr) {
        item = new QTableWidgetItem(text);
        if (heading && row == 0) {
          QFont font = item->font();
          font.setBold(true);
          item->setFont(font);
          item->setBackground(QColor(0xE3, 0xEB, 0xF8));
          item->setFlags(Qt::ItemIsEnabled);
        }
        table->setItem(row, col, item);
      } else if (item->text() != text) {
        item->setText(text);
      }
    }
  }
  const QHeaderView::ResizeMode mode = c.Cols() <= 6 ? QHeaderView::Stretch : QHeaderView::Interactive;
  if (table->horizontalHeader()->sectionResizeMode(0) != mode || c.Cols() == 0) {
    table->horizontalHeader()->setSectionResizeMode(mode);
  }
  const int row_height = table->verticalHeader()->defaultSectionSize();
  const int visible_rows = std::clamp(c.Rows(), 2, 10);
  const int height = visible_rows * row_height + 2 * table->frameWidth() + 2;
  const ui::Rect& g = c.Geometry();
  table->setFixedHeight(n.placement == Placement::Flow && g.height > 0 ? std::clamp(g.height, 40, 400)
                                                                       : height);
}

void ModelRenderer::SyncMemo(Node& n) {
  const Control& c = *n.c;
  const std::vector<std::string>& lines = c.Lines();
  if (lines == n.lines) return;
  auto* memo = static_cast<QPlainTextEdit*>(n.w);
  const bool append =
      lines.size() > n.lines.size() && std::equal(n.lines.begin(), n.lines.end(), lines.begin());
  if (append && !n.lines.empty()) {
    for (size_t i = n.lines.size(); i < lines.size(); ++i) memo->appendPlainText(Q(lines[i]));
  } else {
    memo->setPlainText(Q(c.Text()));
  }
  n.lines = lines;
}

void ModelRenderer::SyncNodes(Node& n) {
  if (n.c->GetKind() != Kind::CheckTree) return;
  const auto& nodes = n.c->Nodes();
  auto* tree = static_cast<QTreeWidget*>(n.w);
  bool same = nodes.size() == n.tree_items.size();
  for (size_t i = 0; same && i < nodes.size(); ++i) same = n.tree_items[i]->text(0) == Q(nodes[i].text);
  if (!same) {
    tree->clear();
    n.tree_items.clear();
    for (size_t i = 0; i < nodes.size(); ++i) {
      const int parent = nodes[i].parent;
      QTreeWidgetItem* item = nullptr;
      if (parent >= 0 && static_cast<size_t>(parent) < i) {
        item = new QTreeWidgetItem(n.tree_items[static_cast<size_t>(parent)]);
      } else {
        item = new QTreeWidgetItem(tree);
      }
      item->setText(0, Q(nodes[i].text));
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setData(0, Qt::UserRole, static_cast<int>(i));
      n.tree_items.push_back(item);
    }
  }
  for (size_t i = 0; i < nodes.size(); ++i) {
    const ui::Control::Tick tick = n.c->NodeTick(static_cast<int>(i));
    const Qt::CheckState state = tick == ui::Control::Tick::kOn        ? Qt::Checked
                                 : tick == ui::Control::Tick::kPartial ? Qt::PartiallyChecked
                                                                       : Qt::Unchecked;
    if (n.tree_items[i]->checkState(0) != state || !same) n.tree_items[i]->setCheckState(0, state);
  }
}

void ModelRenderer::KeepMessageOnTop() {
  const Node* message = Find(kMessagePanel);
  if (message == nullptr || message->w == nullptr) return;
  QWidget* area = message->w->parentWidget();
  if (!message->c->Visible() || area == nullptr) {
    if (shade_) shade_->hide();
    return;
  }
  if (!shade_ || shade_->parentWidget() != area) {
    delete shade_;
    // A plain widget takes the mouse's presses and does nothing with them.
    shade_ = new QWidget(area);
    shade_->setObjectName(QStringLiteral("MessageShade"));
  }
  // Everything but the title bar, which still moves and closes the window.
  const QRect title = FrameRect(kTitleBar).value_or(QRect());
  shade_->setGeometry(QRect(0, title.bottom() + 1, area->width(), area->height() - title.bottom() - 1));
  shade_->show();
  shade_->raise();
  message->w->raise();
}

void ModelRenderer::SyncPicture(Node& n) {
  const Control& c = *n.c;
  auto* picture = static_cast<PictureWidget*>(n.w);
  const int number = c.Index() >= 0 ? c.Index() : c.Tag();
  QByteArray svg = FramePicture(c.Name(), number);
  if (svg.isEmpty() && c.GetKind() == Kind::Image) svg = GenericPicture();
  picture->SetPicture(svg, NaturalPictureSize(c.Name()));
  picture->SetCaption(Q(c.Text()));
  picture->SetHoverFrame(c.GetKind() == Kind::PictureButton && svg.isEmpty());
}

void ModelRenderer::SyncWindowVisible(Node& n) {
  auto* window = static_cast<TopWindow*>(n.w);
  if (window == main_frame_) return;
  if (!n.c->Visible()) {
    window->hide();
    return;
  }
  if (window->isVisible()) return;
  RefreshLayouts(window);
  window->setWindowModality(Qt::ApplicationModal);
  if (main_frame_ != nullptr) {
    const QRect over = main_frame_->frameGeometry();
    window->move(over.center() - QPoint(window->width() / 2, window->height() / 2));
  }
  window->show();
  window->activateWindow();
  // The control the model gave the focus to, when it lies in this window.
  if (Node* focus = Find(model_.Focused())) {
    if (window->isAncestorOf(focus->w)) focus->w->setFocus(Qt::OtherFocusReason);
  }
}

// ---------------------------------------------------------------------------
// Widgets to model

void ModelRenderer::User(const std::string& name, uint32_t resync,
                         const std::function<void(ui::ControlModel&)>& action) {
  if (!*alive_) return;
  action(model_);
  if (!*alive_) return;
  if (resync != 0) {
    if (const Control* control = model_.Find(name)) Mark(*control, resync);
  }
}

void ModelRenderer::FrameClick(const std::string& name) {
  if (main_frame_ == nullptr) return;
  const Control* control = model_.Find(name);
  if (control == nullptr || control->Parent() != kTitleStrip) return;
  if (name == "CloseImage") {
    main_frame_->close();
  } else if (name == "MinzImage") {
    main_frame_->showMinimized();
  }
}

bool ModelRenderer::Over(QWidget* watched, const QPoint& pos, const std::string& name) const {
  for (QWidget* w = watched->childAt(pos); w != nullptr && w != watched; w = w->parentWidget()) {
    auto it = owners_.find(w);
    if (it != owners_.end() && it->second != name) return false;
  }
  return true;
}

bool ModelRenderer::eventFilter(QObject* watched, QEvent* event) {
  if (!*alive_) return false;
  const auto owner = owners_.find(watched);
  if (owner == owners_.end()) return false;
  const std::string name = owner->second;
  Node* n = Find(name);
  if (n == nullptr) return false;
  auto* widget = static_cast<QWidget*>(watched);
  const Kind kind = n->c->GetKind();
  switch (event->type()) {
    case QEvent::Enter: {
      const auto* e = static_cast<QEnterEvent*>(event);
      if (Over(widget, e->position().toPoint(), name)) {
        User(name, 0, [&](ui::ControlModel& m) { m.UserMouseMove(name); });
      }
      break;
    }
    case QEvent::MouseMove: {
      const auto* e = static_cast<QMouseEvent*>(event);
      if (dragging_ && name == kTitleBar && main_frame_ != nullptr) {
        main_frame_->move(e->globalPosition().toPoint() - drag_offset_);
        return true;
      }
      if (Over(widget, e->position().toPoint(), name)) {
        User(name, 0, [&](ui::ControlModel& m) { m.UserMouseMove(name); });
      }
      break;
    }
    case QEvent::Leave:
      if (widget == n->w) User(name, 0, [&](ui::ControlModel& m) { m.UserMouseLeave(name); });
      break;
    case QEvent::MouseButtonPress: {
      const auto* e = static_cast<QMouseEvent*>(event);
      if (!Over(widget, e->position().toPoint(), name)) break;
      pressed_ = name;
      User(name, 0, [&](ui::ControlModel& m) { m.UserMouseDown(name); });
      if (name == kTitleBar && e->button() == Qt::LeftButton && main_frame_ != nullptr) {
        // Dragging the window by its own title bar.
        QWindow* handle = main_frame_->windowHandle();
        if (handle == nullptr || !handle->startSystemMove()) {
          dragging_ = true;
          drag_offset_ = e->globalPosition().toPoint() - main_frame_->pos();
        }
        return true;
      }
      break;
    }
    case QEvent::MouseButtonRelease: {
      const auto* e = static_cast<QMouseEvent*>(event);
      dragging_ = false;
      const bool pressed_here = pressed_ == name;
      if (!pressed_here || e->button() != Qt::LeftButton) break;
      if (!Over(widget, e->position().toPoint(), name)) break;
      pressed_.clear();
      if (!ClickedByMouse(kind) || !widget->rect().contains(e->position().toPoint())) break;
      if (kind == Kind::CheckBox) {
        // A click on the caption ticks the box.
        auto* row = static_cast<CheckRow*>(n->w);
        if (widget == row->Caption() || widget == row) row->Box()->click();
        break;
      }
      User(name, 0, [&](ui::ControlModel& m) { m.UserClick(name); });
      FrameClick(name);
      break;
    }
    case QEvent::MouseButtonDblClick: {
      const auto* e = static_cast<QMouseEvent*>(event);
      if (Over(widget, e->position().toPoint(), name)) {
        User(name, 0, [&](ui::ControlModel& m) { m.UserDblClick(name); });
      }
      break;
    }
    case QEvent::FocusIn:
      if (TakesFocus(kind) && model_.Focused() != name) {
        User(name, 0, [&](ui::ControlModel& m) { m.UserFocus(name); });
      }
      break;
    case QEvent::KeyPress: {
      if (kind != Kind::Edit && kind != Kind::Memo) break;
      const auto* e = static_cast<QKeyEvent*>(event);
      typed_in_.clear();
      if (!e->text().isEmpty()) {
        const int ch = static_cast<int>(e->text().at(0).unicode());
        User(name, 0, [&](ui::ControlModel& m) { m.UserKeyPress(name, ch); });
      }
      break;
    }
    case QEvent::KeyRelease: {
      if (kind != Kind::Edit && kind != Kind::Memo) break;
      const auto* e = static_cast<QKeyEvent*>(event);
      if (e->isAutoRepeat()) break;
      // A key that changed the text has reported its release with the change.
      if (typed_in_ != name) {
        const int key = VirtualKey(e->key());
        User(name, 0, [&](ui::ControlModel& m) { m.UserKeyUp(name, key); });
      }
      typed_in_.clear();
      break;
    }
    default:
      break;
  }
  return false;
}

}  // namespace rlv::qtw
