#pragma once

// Renders the control model with Qt Widgets. Every control appears inside its
// parent by kind; its properties follow the model through the model's change
// notifications, and the user's actions reach the model as the same User* calls
// that the headless automation makes. The renderer holds no logic of the
// configurator: it only draws and delivers.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/Controls.h"

class QWidget;

namespace rlv::qtw {

class TopWindow;

class ModelRenderer : public QObject {
 public:
  explicit ModelRenderer(ui::ControlModel& model);
  ~ModelRenderer() override;
  ModelRenderer(const ModelRenderer&) = delete;
  ModelRenderer& operator=(const ModelRenderer&) = delete;

  // Builds a widget for every control declared so far and follows the model
  // from then on (controls declared later appear as they are declared).
  void Build();
  // Applies the model's pending changes now; otherwise they are applied as
  // soon as the event loop runs.
  void Flush();

  // The widget that shows the control `name`; null for an unknown control.
  QWidget* Widget(const std::string& name) const;
  // The main window's top-level widget (the window "MainForm").
  QWidget* MainFrame() const;

  // Called when the main window is being closed (by its close button or by the
  // platform); the window closes after it returns.
  void SetCloseHandler(std::function<void()> handler) { close_handler_ = std::move(handler); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Node;
  enum class Placement { Flow, Absolute, Overlay, Frame, Page, TopLevel };

  void OnModelChange(const ui::Control& control, ui::Prop prop);
  void Mark(const ui::Control& control, uint32_t bits);
  void ScheduleFlush();

  Node* Find(const std::string& name) const;
  Node& Create(ui::Control& control);
  QWidget* CreateWidget(Node& node, QWidget* parent);
  void Connect(Node& node);
  void Own(QWidget* widget, const std::string& name);
  void OwnInternals(QWidget* widget, const std::string& name);

  Placement PlacementOf(const ui::Control& control) const;
  void Place(Node& node);
  void MarkLayoutDirty(const std::string& container);
  void RebuildFlow(Node& container);
  bool InOverlay(const ui::Control& control) const;

  void SyncAll(Node& node);
  void Sync(Node& node, ui::Prop prop);
  void SyncText(Node& node);
  void SyncItems(Node& node);
  void SyncIndex(Node& node);
  void SyncColors(Node& node);
  void SyncCells(Node& node);
  void SyncMemo(Node& node);
  void SyncNodes(Node& node);
  void SyncPicture(Node& node);
  void SyncWindowVisible(Node& node);
  void SyncTabs(Node& pages);
  // The message panel stays over every panel, shown before or after it, and
  // a shade under it keeps clicks from the window behind it while it shows.
  void KeepMessageOnTop();

  // Runs a user action on the model, then brings the control's widget back in
  // line with whatever the model holds.
  // `resync`: the properties (bits of ui::Prop) to draw again afterwards.
  void User(const std::string& name, uint32_t resync, const std::function<void(ui::ControlModel&)>& action);
  void FrameClick(const std::string& name);
  // True when the event at `pos` (local to `watched`) is over `name` itself,
  // not over one of its child controls.
  bool Over(QWidget* watched, const QPoint& pos, const std::string& name) const;

  ui::ControlModel& model_;
  std::shared_ptr<bool> alive_;
  std::unordered_map<std::string, std::unique_ptr<Node>> nodes_;
  std::unordered_map<const QObject*, std::string> owners_;
  std::vector<const ui::Control*> pending_order_;
  std::unordered_map<const ui::Control*, uint32_t> pending_bits_;
  std::vector<std::string> dirty_layouts_;
  bool flush_scheduled_ = false;
  bool built_ = false;
  int updating_ = 0;  // > 0 while widgets are set from the model

  TopWindow* main_frame_ = nullptr;
  std::function<void()> close_handler_;
  std::string pressed_;  // the control a mouse button went down on
  bool dragging_ = false;
  QPoint drag_offset_;
  std::string typed_in_;     // the edit whose text the current key press changed
  QPointer<QWidget> shade_;  // under the message panel while it shows
};

}  // namespace rlv::qtw
