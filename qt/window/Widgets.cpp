#include "Widgets.h"

#include <QAbstractItemView>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolTip>
#include <algorithm>
#include <cstdio>

#include "Icons.h"

namespace rlv::qtw {

void RefreshLayouts(QWidget* root) {
  if (root == nullptr) return;
  for (QWidget* widget : root->findChildren<QWidget*>()) widget->updateGeometry();
  for (QLayout* layout : root->findChildren<QLayout*>()) layout->invalidate();
  root->updateGeometry();
  if (root->layout() != nullptr) root->layout()->invalidate();
  RefreshAncestors(root);
}

void RefreshAncestors(QWidget* widget) {
  for (QWidget* w = widget; w != nullptr && !w->isWindow(); w = w->parentWidget()) {
    w->updateGeometry();
    QWidget* parent = w->parentWidget();
    if (parent != nullptr && parent->layout() != nullptr) parent->layout()->invalidate();
  }
}

// ---------------------------------------------------------------------------
// ItemHeightMemo

namespace {

int ItemHeight(QLayoutItem* item, int width) {
  if (item->hasHeightForWidth()) return std::max(item->heightForWidth(width), item->minimumSize().height());
  return item->sizeHint().height();
}

}  // namespace

int ItemHeightMemo::Height(QLayoutItem* item, int width) {
  const auto* label = qobject_cast<const QLabel*>(item->widget());
  if (label == nullptr || !label->wordWrap()) return ItemHeight(item, width);
  if (label->font() != font_ || label->text() != text_) {
    font_ = label->font();
    text_ = label->text();
    measures_.fill({});
  }
  for (const Measure& m : measures_) {
    if (m.width == width) return m.height;
  }
  Measure& slot = measures_[next_];
  next_ = (next_ + 1) % kWidths;
  slot = {width, ItemHeight(item, width)};
  return slot.height;
}

// ---------------------------------------------------------------------------
// PictureWidget

PictureWidget::PictureWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_Hover);
}

void PictureWidget::SetPicture(QByteArray svg, QSize natural) {
  if (svg == svg_ && natural == natural_) return;
  svg_ = std::move(svg);
  natural_ = natural;
  cache_ = QPixmap();
  updateGeometry();
  update();
}

void PictureWidget::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  updateGeometry();
  update();
}

QSize PictureWidget::sizeHint() const {
  if (!svg_.isEmpty()) return natural_.isValid() ? natural_ : QSize(32, 32);
  const QFontMetrics metrics(font());
  return QSize(std::max(48, metrics.horizontalAdvance(caption_) + 16), std::max(24, metrics.height() + 8));
}

void PictureWidget::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    cache_ = QPixmap();
    update();
  }
  QWidget::changeEvent(event);
}

void PictureWidget::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  if (hover_frame_) update();
  QWidget::enterEvent(event);
}

void PictureWidget::leaveEvent(QEvent* event) {
  hovered_ = false;
  if (hover_frame_) update();
  QWidget::leaveEvent(event);
}

void PictureWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (hover_frame_ && hovered_ && isEnabled()) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xE3, 0xEB, 0xF8));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  }
  if (!svg_.isEmpty()) {
    const qreal dpr = devicePixelRatioF();
    if (cache_.isNull() || cache_.deviceIndependentSize().toSize() != size() ||
        cache_enabled_ != isEnabled() || !qFuzzyCompare(cache_.devicePixelRatio(), dpr)) {
      cache_ = RenderPicture(svg_, size(), dpr, isEnabled());
      cache_enabled_ = isEnabled();
    }
    painter.drawPixmap(0, 0, cache_);
    return;
  }
  // No picture: a flat button with the caption.
  const QColor frame(62, 98, 170);
  painter.setPen(isEnabled() ? frame : palette().color(QPalette::Disabled, QPalette::WindowText));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  painter.drawText(rect(), Qt::AlignCenter, caption_);
}

// ---------------------------------------------------------------------------
// PanelWidget

PanelWidget::PanelWidget(QWidget* parent) : QWidget(parent) {}

void PanelWidget::SetFill(const QColor& color) {
  fill_ = color;
  update();
}

void PanelWidget::SetBorder(const QColor& color, int width) {
  border_ = color;
  border_width_ = width;
  update();
}

void PanelWidget::SetTopLine(const QColor& color) {
  top_line_ = color;
  update();
}

void PanelWidget::SetCaption(const QString& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  update();
}

void PanelWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (fill_.isValid()) painter.fillRect(rect(), fill_);
  if (border_.isValid() && border_width_ > 0) {
    const int w = border_width_;
    painter.fillRect(QRect(0, 0, width(), w), border_);
    painter.fillRect(QRect(0, height() - w, width(), w), border_);
    painter.fillRect(QRect(0, 0, w, height()), border_);
    painter.fillRect(QRect(width() - w, 0, w, height()), border_);
  }
  if (top_line_.isValid()) painter.fillRect(QRect(0, 0, width(), 1), top_line_);
  if (!caption_.isEmpty()) {
    bool child_shown = false;
    for (QObject* child : children()) {
      auto* widget = qobject_cast<QWidget*>(child);
      if (widget != nullptr && !widget->isHidden()) {
        child_shown = true;
        break;
      }
    }
    if (!child_shown) {
      painter.setPen(palette().color(QPalette::WindowText));
      painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, caption_);
    }
  }
}

// ---------------------------------------------------------------------------
// MeterWidget

MeterWidget::MeterWidget(QWidget* parent) : QWidget(parent) {}

void MeterWidget::SetValue(int min, int max, int position) {
  if (min == min_ && max == max_ && position == position_) return;
  min_ = min;
  max_ = max;
  position_ = position;
  update();
}

void MeterWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  constexpr int kBars = 5;
  const int span = std::max(1, max_ - min_);
  const int clamped = std::clamp(position_, min_, max_);
  const int lit =
      (clamped - min_) * kBars / span + ((clamped > min_ && (clamped - min_) * kBars % span) ? 1 : 0);
  const qreal gap = 3;
  const qreal bar = (width() - gap * (kBars - 1)) / kBars;
  const QColor on = isEnabled() ? QColor(62, 98, 170) : QColor(160, 160, 160);
  const QColor off(220, 226, 238);
  for (int i = 0; i < kBars; ++i) {
    const qreal h = height() * (i + 1) / static_cast<qreal>(kBars);
    const QRectF r(i * (bar + gap), height() - h, bar, h);
    painter.setPen(Qt::NoPen);
    painter.setBrush(i < lit ? on : off);
    painter.drawRoundedRect(r, 1.5, 1.5);
  }
}

// ---------------------------------------------------------------------------
// ChartWidget

ChartWidget::ChartWidget(QWidget* parent) : QWidget(parent) {}

void ChartWidget::SetSamples(const std::vector<std::string>& samples, int min, int max) {
  samples_.clear();
  for (const std::string& text : samples) {
    Sample sample{};
    if (std::sscanf(text.c_str(), "%lld %d %d", &sample.t, &sample.satellites, &sample.csq) == 3) {
      samples_.push_back(sample);
    }
  }
  min_ = min;
  max_ = std::max(min + 1, max);
  update();
}

void ChartWidget::SetCaption(const QString& caption) {
  caption_ = caption;
  update();
}

void ChartWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics metrics(font());
  const int top = metrics.height() + 2;
  const QRectF plot(1, top, width() - 2, height() - top - 1);
  painter.setPen(QColor(200, 206, 218));
  painter.setBrush(Qt::white);
  painter.drawRect(plot);
  painter.setPen(QColor(62, 98, 170));
  painter.drawText(QPointF(2, metrics.ascent()), caption_);
  if (samples_.empty()) return;
  const long long newest = samples_.back().t;
  constexpr double kSpan = 600.0;  // ten minutes
  const auto x = [&](long long t) {
    return plot.right() - static_cast<double>(newest - t) / kSpan * plot.width();
  };
  const auto y = [&](int v) {
    const int clamped = std::clamp(v, min_, max_);
    return plot.bottom() - (clamped - min_) / static_cast<double>(max_ - min_) * plot.height();
  };
  const auto draw = [&](const QColor& color, int Sample::*field) {
    QPolygonF line;
    for (const Sample& s : samples_) {
      if (newest - s.t <= 600) line << QPointF(x(s.t), y(s.*field));
    }
    painter.setPen(QPen(color, 1.5));
    painter.drawPolyline(line);
  };
  draw(QColor(40, 140, 60), &Sample::satellites);
  draw(QColor(200, 60, 60), &Sample::csq);
  const Sample& last = samples_.back();
  const QString legend = QString("sat %1  csq %2").arg(last.satellites).arg(last.csq);
  painter.setPen(QColor(90, 90, 90));
  painter.drawText(
      QPointF(plot.right() - metrics.horizontalAdvance(legend) - 4, plot.top() + metrics.ascent() + 2),
      legend);
}

// ---------------------------------------------------------------------------
// CheckRow

// ---------------------------------------------------------------------------
// ComboBox

int ComboBox::TextWidth() const {
  QStyleOptionComboBox option;
  initStyleOption(&option);
  return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this).width();
}

bool ComboBox::TextFits() const {
  return fontMetrics().horizontalAdvance(currentText()) <= TextWidth();
}

QString ComboBox::ToolTipText() const {
  if (TextFits()) return toolTip();
  return toolTip().isEmpty() ? currentText() : currentText() + QLatin1Char('\n') + toolTip();
}

int ComboBox::ListWidth() const {
  int widest = 0;
  for (int i = 0; i < count(); ++i) widest = std::max(widest, fontMetrics().horizontalAdvance(itemText(i)));
  // The item's own margins, the list's frame and a scroll bar.
  const QAbstractItemView* list = view();
  return widest + 4 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 16 +
         2 * list->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

void ComboBox::showPopup() {
  view()->setMinimumWidth(std::max(width(), ListWidth()));
  QComboBox::showPopup();
}

bool ComboBox::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const QString text = ToolTipText();
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, this);
    }
    return true;
  }
  return QComboBox::event(event);
}

void ComboBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  const int room =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this).width();
  option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideRight, room);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

// ---------------------------------------------------------------------------
// CheckRow

CheckRow::CheckRow(QWidget* parent) : QWidget(parent) {
  box_ = new QCheckBox(this);
  caption_ = new QLabel(this);
  caption_->setWordWrap(true);
  caption_->setTextFormat(Qt::PlainText);
  caption_item_ = std::make_unique<QWidgetItem>(caption_);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

CheckRow::~CheckRow() = default;

void CheckRow::SetText(const QString& text) {
  if (caption_->text() == text) return;
  caption_->setText(text);
  caption_->setVisible(!text.isEmpty());
  PlaceChildren();
  updateGeometry();
}

int CheckRow::CaptionHeight(int width) const {
  if (caption_->isHidden()) return 0;
  const int caption_width = std::max(1, width - box_->sizeHint().width() - kGap);
  return caption_height_.Height(caption_item_.get(), caption_width);
}

QSize CheckRow::sizeHint() const {
  const QSize box = box_->sizeHint();
  if (caption_->isHidden()) return box;
  const QSize caption = caption_->sizeHint();
  return QSize(box.width() + kGap + caption.width(), std::max(box.height(), caption.height()));
}

QSize CheckRow::minimumSizeHint() const {
  const QSize box = box_->sizeHint();
  if (caption_->isHidden()) return box;
  const QSize caption = caption_->minimumSizeHint();
  return QSize(box.width() + kGap + caption.width(), std::max(box.height(), caption.height()));
}

int CheckRow::heightForWidth(int width) const {
  return std::max(box_->sizeHint().height(), CaptionHeight(width));
}

void CheckRow::resizeEvent(QResizeEvent* event) {
  PlaceChildren();
  QWidget::resizeEvent(event);
}

void CheckRow::PlaceChildren() {
  const QSize box = box_->sizeHint();
  box_->setGeometry(QRect(QPoint(0, 0), box));
  const int left = box.width() + kGap;
  caption_->setGeometry(QRect(left, 0, std::max(1, width() - left), height()));
}

// ---------------------------------------------------------------------------
// PageStack

PageStack::PageStack(QWidget* parent) : QWidget(parent) {}

void PageStack::AddPage(QWidget* page) {
  page->setParent(this);
  pages_.push_back(page);
  page->setVisible(PageCount() - 1 == current_);
}

QWidget* PageStack::CurrentPage() const {
  return current_ >= 0 ? pages_[static_cast<size_t>(current_)] : nullptr;
}

void PageStack::ShowPage(int index) {
  const int shown = index >= 0 && index < PageCount() ? index : -1;
  if (shown == current_) return;
  current_ = shown;
  if (QWidget* page = CurrentPage()) {
    page->setGeometry(rect());
    page->show();
    page->raise();
  }
  for (QWidget* page : pages_) {
    if (page != CurrentPage()) page->hide();
  }
  // The layouts holding the stack size it anew for the page now shown.
  RefreshLayouts(CurrentPage());
  RefreshAncestors(this);
}

void PageStack::resizeEvent(QResizeEvent* event) {
  if (QWidget* page = CurrentPage()) page->setGeometry(rect());
  QWidget::resizeEvent(event);
}

QSize PageStack::sizeHint() const {
  QWidget* page = CurrentPage();
  return page != nullptr ? page->sizeHint() : QSize(0, 0);
}

QSize PageStack::minimumSizeHint() const {
  QWidget* page = CurrentPage();
  return page != nullptr ? page->minimumSizeHint() : QSize(0, 0);
}

bool PageStack::hasHeightForWidth() const {
  QWidget* page = CurrentPage();
  return page != nullptr && page->hasHeightForWidth();
}

int PageStack::heightForWidth(int width) const {
  QWidget* page = CurrentPage();
  if (page == nullptr) return 0;
  return page->hasHeightForWidth() ? page->heightForWidth(width) : page->sizeHint().height();
}

// ---------------------------------------------------------------------------
// ColumnFlowLayout

ColumnFlowLayout::ColumnFlowLayout(QWidget* parent, int min_column_width, int max_columns)
    : QLayout(parent), min_column_width_(min_column_width), max_columns_(std::max(1, max_columns)) {}

ColumnFlowLayout::~ColumnFlowLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void ColumnFlowLayout::AddItem(QLayoutItem* item, bool wide) {
  items_.push_back({item, wide});
  invalidate();
}

void ColumnFlowLayout::AddSubLayout(QLayout* layout, bool wide) {
  addChildLayout(layout);
  AddItem(layout, wide);
}

void ColumnFlowLayout::AddWidget(QWidget* widget, bool wide) {
  addChildWidget(widget);
  AddItem(new QWidgetItem(widget), wide);
}

QLayoutItem* ColumnFlowLayout::itemAt(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return items_[static_cast<size_t>(index)].item;
}

QLayoutItem* ColumnFlowLayout::takeAt(int index) {
  if (index < 0 || index >= count()) return nullptr;
  QLayoutItem* item = items_[static_cast<size_t>(index)].item;
  items_.erase(items_.begin() + index);
  invalidate();
  return item;
}

void ColumnFlowLayout::invalidate() {
  memo_.Clear();
  QLayout::invalidate();
}

QSize ColumnFlowLayout::minimumSize() const {
  return memo_.Minimum([this] { return MeasureMinimum(); });
}

QSize ColumnFlowLayout::MeasureMinimum() const {
  int width = 0;
  for (const Entry& e : items_) {
    if (!e.item->isEmpty()) width = std::max(width, e.item->minimumSize().width());
  }
  const QMargins m = contentsMargins();
  return QSize(width + m.left() + m.right(), m.top() + m.bottom());
}

QSize ColumnFlowLayout::sizeHint() const {
  const QMargins m = contentsMargins();
  const int width = std::max(minimumSize().width(), min_column_width_ + m.left() + m.right());
  return QSize(width, heightForWidth(width));
}

int ColumnFlowLayout::heightForWidth(int width) const {
  return memo_.HeightForWidth(width, [&] { return Arrange(QRect(0, 0, width, 0), false); });
}

void ColumnFlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  Arrange(rect, true);
}

int ColumnFlowLayout::Arrange(const QRect& rect, bool apply) const {
  const QMargins m = contentsMargins();
  const QRect area = rect.marginsRemoved(m);
  const int sp = std::max(0, spacing());
  const int width = std::max(1, area.width());
  const int columns = std::clamp((width + sp) / (min_column_width_ + sp), 1, max_columns_);
  const int column_width = (width - sp * (columns - 1)) / columns;
  std::vector<int> heights(static_cast<size_t>(columns), 0);
  for (const Entry& e : items_) {
    if (e.item->isEmpty()) continue;
    const bool wide = columns > 1 && (e.wide || e.item->minimumSize().width() > column_width);
    if (wide) {
      const int top = *std::max_element(heights.begin(), heights.end());
      const int h = ItemHeight(e.item, width);
      if (apply) e.item->setGeometry(QRect(area.left(), area.top() + top, width, h));
      std::fill(heights.begin(), heights.end(), top + h + sp);
      continue;
    }
    const auto shortest = std::min_element(heights.begin(), heights.end());
    const int column = static_cast<int>(shortest - heights.begin());
    const int h = ItemHeight(e.item, column_width);
    if (apply) {
      e.item->setGeometry(
          QRect(area.left() + column * (column_width + sp), area.top() + *shortest, column_width, h));
    }
    *shortest += h + sp;
  }
  int used = *std::max_element(heights.begin(), heights.end());
  if (used > 0) used -= sp;
  return used + m.top() + m.bottom();
}

// ---------------------------------------------------------------------------
// FormRowsLayout

FormRowsLayout::FormRowsLayout() {
  setSpacing(5);
}

FormRowsLayout::~FormRowsLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void FormRowsLayout::AddPair(QWidget* label, QWidget* field, bool natural) {
  addChildWidget(label);
  addChildWidget(field);
  auto* label_item = new QWidgetItem(label);
  auto* field_item = new QWidgetItem(field);
  items_.push_back(label_item);
  items_.push_back(field_item);
  rows_.push_back({label_item, field_item, natural, {}});
  invalidate();
}

void FormRowsLayout::AddRow(QWidget* widget, bool natural) {
  addChildWidget(widget);
  auto* item = new QWidgetItem(widget);
  items_.push_back(item);
  rows_.push_back({nullptr, item, natural, {}});
  invalidate();
}

void FormRowsLayout::AddRowLayout(QLayout* layout) {
  addChildLayout(layout);
  items_.push_back(layout);
  rows_.push_back({nullptr, layout, false, {}});
  invalidate();
}

void FormRowsLayout::addItem(QLayoutItem* item) {
  items_.push_back(item);
  rows_.push_back({nullptr, item, false, {}});
  invalidate();
}

QLayoutItem* FormRowsLayout::itemAt(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

QLayoutItem* FormRowsLayout::takeAt(int index) {
  if (index < 0 || index >= count()) return nullptr;
  QLayoutItem* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  for (auto row = rows_.begin(); row != rows_.end(); ++row) {
    if (row->item == item && row->label == nullptr) {
      rows_.erase(row);
      break;
    }
    if (row->item == item) {
      row->item = row->label;
      row->label = nullptr;
      break;
    }
    if (row->label == item) {
      row->label = nullptr;
      row->label_height = {};
      break;
    }
  }
  invalidate();
  return item;
}

void FormRowsLayout::invalidate() {
  memo_.Clear();
  QLayout::invalidate();
}

QSize FormRowsLayout::sizeHint() const {
  return memo_.Hint([this] { return MeasureHint(); });
}

QSize FormRowsLayout::MeasureHint() const {
  int width = 0;
  const int sp = std::max(0, spacing());
  for (const Row& row : rows_) {
    if (row.label != nullptr) {
      const int field = row.item->isEmpty() ? 0 : row.item->sizeHint().width();
      const int label = row.label->isEmpty() ? 0 : row.label->sizeHint().width();
      // Wide enough for the field at its share of the width, or the label's text.
      width = std::max(width, std::min(label + sp + field, 2 * (field * 100 / (100 - kLabelShare)) + sp));
    } else if (!row.item->isEmpty()) {
      width = std::max(width, row.item->sizeHint().width());
    }
  }
  const QMargins m = contentsMargins();
  width += m.left() + m.right();
  return QSize(width, heightForWidth(width));
}

QSize FormRowsLayout::minimumSize() const {
  return memo_.Minimum([this] { return MeasureMinimum(); });
}

QSize FormRowsLayout::MeasureMinimum() const {
  int width = 0;
  const int sp = std::max(0, spacing());
  for (const Row& row : rows_) {
    if (row.label != nullptr) {
      const int field = row.item->isEmpty() ? 0 : row.item->minimumSize().width();
      width = std::max(width, field * 100 / (100 - kLabelShare) + sp);
    } else if (!row.item->isEmpty()) {
      width = std::max(width, row.item->minimumSize().width());
    }
  }
  const QMargins m = contentsMargins();
  return QSize(width + m.left() + m.right(), m.top() + m.bottom());
}

int FormRowsLayout::heightForWidth(int width) const {
  return memo_.HeightForWidth(width, [&] { return Arrange(QRect(0, 0, width, 0), false); });
}

void FormRowsLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  Arrange(rect, true);
}

int FormRowsLayout::Arrange(const QRect& rect, bool apply) const {
  const QMargins m = contentsMargins();
  const QRect area = rect.marginsRemoved(m);
  const int sp = std::max(0, spacing());
  const int width = std::max(1, area.width());
  const int label_width = std::max(1, (width - sp) * kLabelShare / 100);
  const int field_width = std::max(1, width - sp - label_width);
  int y = area.top();
  bool first = true;
  for (Row& row : rows_) {
    const bool label_shown = row.label != nullptr && !row.label->isEmpty();
    const bool item_shown = !row.item->isEmpty();
    if (!label_shown && !item_shown) continue;
    if (!first) y += sp;
    first = false;
    if (row.label != nullptr) {
      const QSize field_hint = row.item->sizeHint();
      const int fw =
          row.natural ? std::min(field_width, std::max(field_hint.width(), row.item->minimumSize().width()))
                      : field_width;
      const int fh = item_shown ? field_hint.height() : 0;
      const int lh = label_shown ? row.label_height.Height(row.label, label_width) : 0;
      const int h = std::max(fh, lh);
      if (apply) {
        if (label_shown) row.label->setGeometry(QRect(area.left(), y, label_width, h));
        if (item_shown) {
          row.item->setGeometry(QRect(area.left() + label_width + sp, y + (h - fh) / 2, fw, fh));
        }
      }
      y += h;
      continue;
    }
    const QSize hint = row.item->sizeHint();
    const int w =
        row.natural ? std::min(width, std::max(hint.width(), row.item->minimumSize().width())) : width;
    const int h = row.label_height.Height(row.item, w);
    if (apply) row.item->setGeometry(QRect(area.left(), y, w, h));
    y += h;
  }
  return y - area.top() + m.top() + m.bottom();
}

// ---------------------------------------------------------------------------
// WrapLayout

WrapLayout::WrapLayout(bool centred) : centred_(centred) {}

WrapLayout::~WrapLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

QLayoutItem* WrapLayout::itemAt(int index) const {
  if (index < 0 || index >= count()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

QLayoutItem* WrapLayout::takeAt(int index) {
  if (index < 0 || index >= count()) return nullptr;
  QLayoutItem* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  invalidate();
  return item;
}

QSize WrapLayout::minimumSize() const {
  QSize size;
  for (QLayoutItem* item : items_) {
    if (!item->isEmpty()) size = size.expandedTo(item->minimumSize());
  }
  const QMargins m = contentsMargins();
  return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize WrapLayout::sizeHint() const {
  int width = 0;
  int height = 0;
  const int sp = std::max(0, spacing());
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    if (width > 0) width += sp;
    width += item->sizeHint().width();
    height = std::max(height, item->sizeHint().height());
  }
  const QMargins m = contentsMargins();
  return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

int WrapLayout::heightForWidth(int width) const {
  return Arrange(QRect(0, 0, width, 0), false);
}

void WrapLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  Arrange(rect, true);
}

int WrapLayout::Arrange(const QRect& rect, bool apply) const {
  const QMargins m = contentsMargins();
  const QRect area = rect.marginsRemoved(m);
  const int sp = std::max(0, spacing());
  int y = area.top();
  size_t i = 0;
  while (i < items_.size()) {
    // One line: as many items as fit.
    std::vector<QLayoutItem*> line;
    int line_width = 0;
    int line_height = 0;
    for (; i < items_.size(); ++i) {
      QLayoutItem* item = items_[i];
      if (item->isEmpty()) continue;
      const QSize hint = item->sizeHint();
      const int add = (line.empty() ? 0 : sp) + hint.width();
      if (!line.empty() && line_width + add > area.width()) break;
      line.push_back(item);
      line_width += add;
      line_height = std::max(line_height, hint.height());
    }
    if (line.empty()) break;
    int x = area.left() + (centred_ ? std::max(0, (area.width() - line_width) / 2) : 0);
    for (QLayoutItem* item : line) {
      const QSize hint = item->sizeHint();
      const int w = std::min(hint.width(), area.width());
      if (apply) item->setGeometry(QRect(x, y, w, line_height));
      x += w + sp;
    }
    y += line_height + sp;
  }
  if (y > area.top()) y -= sp;
  return y - area.top() + m.top() + m.bottom();
}

}  // namespace rlv::qtw
