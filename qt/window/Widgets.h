#pragma once

// Widgets and layouts of the model renderer that Qt does not have as such.

#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace rlv::qtw {

// Qt keeps the sizes of hidden widgets' layouts as they were; these drop what a
// layout remembers of `root` and everything in it, or of `widget`'s ancestors.
void RefreshLayouts(QWidget* root);
void RefreshAncestors(QWidget* widget);

// The height a layout item needs at a width. A word-wrapped label is measured
// once for its text, font and width and answered from memory while its text
// and font stay as they are: wrapping the text again on every layout pass is
// what made a page of labelled fields slow to show. The layouts above ask at a
// few widths in turn (their own size hint, then the width they are given), so
// the last few widths are kept. Any other item is asked each time.
class ItemHeightMemo {
 public:
  int Height(QLayoutItem* item, int width);

 private:
  static constexpr size_t kWidths = 4;
  struct Measure {
    int width = -1;
    int height = 0;
  };
  QString text_;
  QFont font_;
  std::array<Measure, kWidths> measures_{};
  size_t next_ = 0;  // the slot the next new width takes
};

// What a layout has measured of itself (minimum size, size hint, height for a
// few widths), kept until the layout is invalidated, as Qt's own layouts keep
// theirs: the layouts above ask for each several times in one pass, and each
// answer measures every item inside.
class LayoutMemo {
 public:
  void Clear() { *this = LayoutMemo(); }
  template <typename Measure>
  QSize Minimum(Measure measure) {
    if (!minimum_) minimum_ = measure();
    return *minimum_;
  }
  template <typename Measure>
  QSize Hint(Measure measure) {
    if (!hint_) hint_ = measure();
    return *hint_;
  }
  template <typename Measure>
  int HeightForWidth(int width, Measure measure) {
    for (const auto& [w, h] : heights_) {
      if (w == width) return h;
    }
    const int height = measure();
    heights_[next_] = {width, height};
    next_ = (next_ + 1) % heights_.size();
    return height;
  }

 private:
  std::optional<QSize> minimum_;
  std::optional<QSize> hint_;
  std::array<std::pair<int, int>, 4> heights_{{{-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}}};
  size_t next_ = 0;
};

// A picture (an image control, a picture button): an SVG drawn to the widget's
// size, greyed while disabled, or a caption when it has no picture.
class PictureWidget : public QWidget {
 public:
  explicit PictureWidget(QWidget* parent);
  void SetPicture(QByteArray svg, QSize natural);
  void SetCaption(const QString& caption);
  void SetHoverFrame(bool on) { hover_frame_ = on; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QByteArray svg_;
  QSize natural_;
  QString caption_;
  QPixmap cache_;
  bool cache_enabled_ = true;
  bool hovered_ = false;
  bool hover_frame_ = false;
};

// A panel: filled with its colour, optionally framed, with a thin line on top,
// and its caption centred while no child is shown.
class PanelWidget : public QWidget {
 public:
  explicit PanelWidget(QWidget* parent);
  void SetFill(const QColor& color);
  void SetBorder(const QColor& color, int width);
  void SetTopLine(const QColor& color);
  void SetCaption(const QString& caption);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor fill_;
  QColor border_;
  int border_width_ = 0;
  QColor top_line_;
  QString caption_;
};

// The signal meter: five bars, as many lit as the position reaches.
class MeterWidget : public QWidget {
 public:
  explicit MeterWidget(QWidget* parent);
  void SetValue(int min, int max, int position);
  QSize sizeHint() const override { return {64, 22}; }
  QSize minimumSizeHint() const override { return {40, 16}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};

// The status chart: two lines over the last ten minutes, satellites in view
// and the GSM signal, from samples "seconds satellites csq".
class ChartWidget : public QWidget {
 public:
  explicit ChartWidget(QWidget* parent);
  void SetSamples(const std::vector<std::string>& samples, int min, int max);
  void SetCaption(const QString& caption);
  QSize sizeHint() const override { return {300, 110}; }
  QSize minimumSizeHint() const override { return {160, 80}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Sample {
    long long t;
    int satellites;
    int csq;
  };
  std::vector<Sample> samples_;
  int min_ = 0;
  int max_ = 31;
  QString caption_;
};

// A check box whose caption wraps: the box at the top left and a label beside
// it, placed by the row itself so that the caption's height is measured once
// for its text and width.
class CheckRow : public QWidget {
 public:
  explicit CheckRow(QWidget* parent);
  ~CheckRow() override;
  QCheckBox* Box() const { return box_; }
  QLabel* Caption() const { return caption_; }
  void SetText(const QString& text);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  static constexpr int kGap = 4;
  int CaptionHeight(int width) const;
  void PlaceChildren();

  QCheckBox* box_;
  QLabel* caption_;
  std::unique_ptr<QWidgetItem> caption_item_;
  mutable ItemHeightMemo caption_height_;
};

// A drop-down list that never cuts its texts: the choice shown in a box too
// narrow for it ends in an ellipsis and is told whole by the tooltip, and the
// list opens at least as wide as its widest item.
class ComboBox : public QComboBox {
 public:
  explicit ComboBox(QWidget* parent) : QComboBox(parent) {}
  // Whether the box shows its current text whole.
  bool TextFits() const;
  // The tooltip: the whole text when it does not fit, then the control's hint.
  QString ToolTipText() const;
  // The width the opened list needs for its widest item.
  int ListWidth() const;
  void showPopup() override;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int TextWidth() const;
};

// Pages shown one at a time: only the current page is shown and counts for the
// size (a stacked layout would size itself to the largest page).
class PageStack : public QWidget {
 public:
  explicit PageStack(QWidget* parent);
  void AddPage(QWidget* page);
  int PageCount() const { return static_cast<int>(pages_.size()); }
  // An index outside the pages shows none.
  void ShowPage(int index);
  QWidget* CurrentPage() const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::vector<QWidget*> pages_;
  int current_ = -1;
};

// Items in columns of at least `min_column_width`, each in the column that is
// shortest so far; an item wider than a column (or marked wide) spans them all.
class ColumnFlowLayout : public QLayout {
 public:
  ColumnFlowLayout(QWidget* parent, int min_column_width, int max_columns);
  ~ColumnFlowLayout() override;
  void addItem(QLayoutItem* item) override { AddItem(item, false); }
  void AddItem(QLayoutItem* item, bool wide);
  void AddSubLayout(QLayout* layout, bool wide);
  void AddWidget(QWidget* widget, bool wide);
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  void setGeometry(const QRect& rect) override;
  void invalidate() override;
  Qt::Orientations expandingDirections() const override { return {}; }

 private:
  int Arrange(const QRect& rect, bool apply) const;
  QSize MeasureMinimum() const;
  mutable LayoutMemo memo_;
  struct Entry {
    QLayoutItem* item;
    bool wide;
  };
  std::vector<Entry> items_;
  int min_column_width_;
  int max_columns_;
};

// Rows of a form: a label beside its field (the label column takes a fixed share
// of the width and wraps its text), or one item across the whole width.
class FormRowsLayout : public QLayout {
 public:
  static constexpr int kLabelShare = 55;  // percent of the width for the label column

  FormRowsLayout();
  ~FormRowsLayout() override;
  // `natural`: the field (or the row's item) keeps its own width, left-aligned.
  void AddPair(QWidget* label, QWidget* field, bool natural);
  void AddRow(QWidget* widget, bool natural);
  void AddRowLayout(QLayout* layout);
  void addItem(QLayoutItem* item) override;
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  void setGeometry(const QRect& rect) override;
  void invalidate() override;
  Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }

 private:
  QSize MeasureHint() const;
  QSize MeasureMinimum() const;
  mutable LayoutMemo memo_;
  struct Row {
    QLayoutItem* label;  // null for a row of one item
    QLayoutItem* item;
    bool natural;
    ItemHeightMemo label_height;  // of `label`, or of `item` in a row of one
  };
  int Arrange(const QRect& rect, bool apply) const;
  std::vector<QLayoutItem*> items_;
  mutable std::vector<Row> rows_;
};

// Items left to right, wrapping onto the next line; centred lines optional.
class WrapLayout : public QLayout {
 public:
  explicit WrapLayout(bool centred);
  ~WrapLayout() override;
  void addItem(QLayoutItem* item) override { items_.push_back(item); }
  int count() const override { return static_cast<int>(items_.size()); }
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  void setGeometry(const QRect& rect) override;
  Qt::Orientations expandingDirections() const override { return {}; }

 private:
  int Arrange(const QRect& rect, bool apply) const;
  std::vector<QLayoutItem*> items_;
  bool centred_;
};

}  // namespace rlv::qtw
