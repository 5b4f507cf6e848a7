// The report-style status list: one column of captions, no header, whole-row selection and
// a flat one-pixel frame, which keeps a chosen row selected, focused and wholly in view.
#pragma once

#include <QString>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

// One row; its caption is the text of the first column.
class TListItem : public QTreeWidgetItem {
 public:
  TListItem() : QTreeWidgetItem(UserType) {}
  QString Caption() const { return QTreeWidgetItem::text(0); }
  void SetCaption(const QString &caption) { setText(0, caption); }
  QString text() const { return Caption(); }
  using QTreeWidgetItem::text;
};

class TKyListView;

// The list's rows: append, count, empty. Emptying keeps the columns.
class TListItems {
 public:
  explicit TListItems(TKyListView &view) : view_(view) {}
  // A new last row, owned by the list.
  TListItem *Add();
  int Count() const;
  void Clear();
  TListItem *operator[](int index) const;

 private:
  TKyListView &view_;
};

class TKyListView : public QTreeWidget {
  Q_OBJECT

 public:
  static constexpr int drag_scroll_interval_ms = 300;
  static constexpr int default_column_width = 300;

  explicit TKyListView(QWidget *parent = nullptr);
  ~TKyListView() override;

  TListItems &Items() { return items_; }

  // Selects and focuses row `index`, then scrolls so that the whole row is visible.
  // 0 <= index < Items().Count().
  void SelectItem(int index);
  // Removes the rows and also the columns: captions added afterwards are not shown.
  void Clear();

  // The hover delay in milliseconds, -1 for the system's default.
  int HoverTime() const { return hover_time_; }
  void SetHoverTime(int ms);
  // Rows may be dragged to a new place; while one is dragged near the top or bottom edge
  // the list scrolls one line every drag_scroll_interval_ms.
  bool ReArrangeItems() const { return rearrange_; }
  void SetReArrangeItems(bool on);
  static QString Version() { return QStringLiteral("1.6.3.4"); }

  // The drag-scroll rule: -1 (one line up) when the pointer lies within one row height of
  // the top edge, header included; +1 within one row height of the bottom edge; else 0.
  // `y` counts from the control's top, `height` is the control's.
  static int drag_scroll_step(int y, int height, int row_height);

  // Convenience for readers of the list: rows, their captions and the current row.
  int count() const { return topLevelItemCount(); }
  TListItem *item(int row) const;
  int currentRow() const;

  // Cell clicks (column, row), fired through LeftClickCell / RightClickCell.
  std::function<void(TKyListView *sender, int column, int row)> OnLeftClickCell;
  std::function<void(TKyListView *sender, int column, int row)> OnRightClickCell;

 protected:
  virtual void SelectionChanged(int index);
  virtual void LeftClickCell(int column, int row);
  virtual void RightClickCell(int column, int row);

  bool viewportEvent(QEvent *event) override;
  void mousePressEvent(QMouseEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragMoveEvent(QDragMoveEvent *event) override;
  void dragLeaveEvent(QDragLeaveEvent *event) override;
  void dropEvent(QDropEvent *event) override;

 private:
  void DragScrollTick();
  int RowHeight() const;

  TListItems items_{*this};
  int hover_time_ = -1;
  bool rearrange_ = false;
  bool dragging_ = false;
  int drag_y_ = 0;  // the pointer during a drag, from the control's top
  QTimer drag_scroll_timer_;
};
