#pragma once
// A list box for logs that grow all day: lines kept as 8-bit text in one arena with the time
// each was added, a view whose geometry is arithmetic over a uniform row height, and scrolling
// coalesced to once per pass of the event loop, and at most once per kSyncMs while lines stream.
// Appending a line costs the same at a million lines as at the first. The user selects lines,
// copies them and reads back while lines arrive.

#include <QAbstractListModel>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QListView>
#include <QRawFont>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fw::qt {

class LogModel final : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;

  // False when the arena is full (4 GiB of text): the line is not added.
  [[nodiscard]] bool Append(std::string_view line, int64_t timeMs = 0);
  void Clear();
  [[nodiscard]] int Count() const { return static_cast<int>(ends_.size()); }
  [[nodiscard]] std::string_view Line(int row) const;
  [[nodiscard]] int64_t Time(int row) const;
  // While on, every line shows as "HH:MM:SS.mmm " and its text.
  void SetShowTimes(bool show);
  [[nodiscard]] bool ShowTimes() const { return showTimes_; }
  // The line as shown, 8-bit.
  [[nodiscard]] std::string Shown(int row) const;
  // The same as Latin-1 text into `out`, whose buffer a painter reuses row after row.
  void ShownText(int row, QString& out) const;

  [[nodiscard]] int rowCount(const QModelIndex& parent) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
  [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  std::string text_;            // every line back to back, no separators
  std::vector<uint32_t> ends_;  // line i is text_[ends_[i-1], ends_[i])
  std::vector<int64_t> times_;  // wall-clock ms of line i
  bool showTimes_ = false;
};

// Rows are all one height, so positions are multiplications and nothing is laid out per row;
// QListView's own per-row layout is bypassed on purpose.
class LogView final : public QListView {
 public:
  explicit LogView(QWidget* parent);

  void SetLogModel(LogModel* model);
  // Makes `row` current (-1: none) and brings it into view on the next pass of the event loop
  // (within kSyncMs and a little of the last one), while the view follows the newest line.
  void MakeCurrentLater(int row);
  // Follows the newest line again, as End does: the selection goes, the newest line is current.
  void Follow();
  [[nodiscard]] bool Following() const { return following_; }
  // The selected lines as shown, in log order, each followed by a line feed (8-bit).
  [[nodiscard]] std::string SelectedText() const;
  // Puts SelectedText on the clipboard (Ctrl+C, "Copy").
  void CopySelection() const;
  // Asked for the context menu (right button, Menu key, Shift+F10) at a global position.
  std::function<void(const QPoint&)> onMenu;
  [[nodiscard]] int CurrentRow() const { return current_; }
  [[nodiscard]] int FirstVisibleRow() const;
  [[nodiscard]] int RowHeight() const { return rowHeight_; }

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& p) const override;
  void doItemsLayout() override;
  void keyboardSearch(const QString& search) override;

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;
  void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                   const QList<int>& roles = QList<int>()) override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
  void reset() override;
  void resizeEvent(QResizeEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void updateGeometries() override;
  bool isIndexHidden(const QModelIndex& index) const override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  [[nodiscard]] int RowCount() const;
  [[nodiscard]] int FullRowsVisible() const;
  void RequestSync();
  void Sync();
  // Draws a line of printable ASCII from the glyph table, other lines through the shaper.
  void DrawLine(QPainter& painter, QPointF at, const QString& line);

  // Log lines are printable ASCII in a fixed-pitch font: glyphs looked up once per font, so that
  // a new line costs no text shaping (nor gets a font's ligatures: each character stays itself).
  struct AsciiGlyphs {
    static constexpr char16_t kFirst = 0x20;
    static constexpr char16_t kLast = 0x7E;
    bool usable = false;
    QRawFont raw;
    std::array<quint32, kLast - kFirst + 1> index{};
    std::array<qreal, kLast - kFirst + 1> advance{};
  };
  void LoadGlyphs();
  AsciiGlyphs glyphs_;
  QList<quint32> runIndexes_;
  QList<QPointF> runPositions_;

  LogModel* model_ = nullptr;
  int rowHeight_ = 1;
  int current_ = -1;
  int scrollTarget_ = -1;  // row to bring into view at the next sync
  int dirtyFrom_ = -1;     // first row added or moved since the last sync; -1: none
  bool currentChanged_ = false;
  bool syncQueued_ = false;
  static constexpr qint64 kSyncMs = 75;  // every fourth dispatch tick, with room for jitter
  static constexpr qint64 kFallbackSlackMs = 35;  // the ticks that make a batch due come first
  QBasicTimer fallback_;
  QElapsedTimer lastSync_;
  bool following_ = true;  // the user has not scrolled away or selected lines
};

}  // namespace fw::qt
