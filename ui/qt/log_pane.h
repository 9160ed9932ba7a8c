// The log pane (control 1000): a read-only, word-wrapping text pane with a
// vertical scroll bar that follows the end. Lines are counted as the pane
// displays them, so a paragraph wrapped over three rows is three lines.
// Text enters as the tool writes it, with "\r\n" line ends; the pane keeps
// paragraphs, so such a text always leaves an empty last line behind it.
#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QString>

class QAction;
class QTextBlock;

namespace torvane {

class LogPane : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit LogPane(QWidget* parent = nullptr);

  // Number of display lines; an empty pane has one.
  int LineCount() const;
  // Character index of the first character of display line `line`
  // (0-based), or -1 when the pane has fewer lines.
  int LineIndex(int line) const;
  // Start of the last line that holds text: display line n - 2 of n when
  // n - 1 > 0, else line 0. Counted from the end, so the cost does not grow
  // with the length of the log.
  int LastTextLineStart() const;
  // Number of characters; a paragraph break counts as one.
  int TextLength() const;

  // Selects the characters from start to end; end -1 means the end of the
  // text. Positions beyond the text are clamped to it.
  void SetSel(int start, int end);
  // Replaces the selection with text (its "\r\n", "\r" and "\n" become
  // paragraph breaks), leaves the caret behind it and scrolls it into view.
  void ReplaceSel(const QString& text);

  // The pane's text with "\r\n" line ends, as it was written.
  QString LogText() const;

  // Actions added below the standard items of the pane's context menu.
  void SetExtraContextActions(const QList<QAction*>& actions) { extra_actions_ = actions; }

  // The tool's line ends turned into the pane's paragraph breaks.
  static QString ToPaneText(const QString& text);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Display lines of one paragraph, laying it out first when needed.
  int BlockLineCount(const QTextBlock& block) const;

  QList<QAction*> extra_actions_;
};

}  // namespace torvane
