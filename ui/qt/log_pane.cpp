#include "ui/qt/log_pane.h"

#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <memory>

namespace torvane {

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setTabChangesFocus(true);
  // The operator cannot edit the pane, so an undo could never be asked
  // for; keeping a history would only grow with every progress line.
  setUndoRedoEnabled(false);
  // The log is never trimmed.
  setMaximumBlockCount(0);
}

int LogPane::BlockLineCount(const QTextBlock& block) const {
  if (!block.isVisible()) return 0;
  QTextLayout* layout = block.layout();
  if (layout->lineCount() == 0) {
    // The pane lays paragraphs out on demand; asking for a paragraph's
    // bounding rectangle lays it out at the pane's current width.
    document()->documentLayout()->blockBoundingRect(block);
  }
  return std::max(1, layout->lineCount());
}

int LogPane::LineCount() const {
  int count = 0;
  for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next()) {
    count += BlockLineCount(block);
  }
  return std::max(1, count);
}

int LogPane::LineIndex(int line) const {
  if (line < 0) return -1;
  int remaining = line;
  for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next()) {
    const int lines = BlockLineCount(block);
    if (remaining < lines) {
      const QTextLine text_line = block.layout()->lineAt(remaining);
      return block.position() + (text_line.isValid() ? text_line.textStart() : 0);
    }
    remaining -= lines;
  }
  return -1;
}

int LogPane::LastTextLineStart() const {
  // Walk back from the end to the second line from the bottom.
  int from_end = 2;
  for (QTextBlock block = document()->lastBlock(); block.isValid(); block = block.previous()) {
    const int lines = BlockLineCount(block);
    if (lines >= from_end) {
      const QTextLine text_line = block.layout()->lineAt(lines - from_end);
      return block.position() + (text_line.isValid() ? text_line.textStart() : 0);
    }
    from_end -= lines;
  }
  return 0;  // at most one line
}

int LogPane::TextLength() const { return document()->characterCount() - 1; }

void LogPane::SetSel(int start, int end) {
  const int length = TextLength();
  if (end < 0 || end > length) end = length;
  start = std::clamp(start, 0, length);
  QTextCursor cursor(document());
  cursor.setPosition(start);
  cursor.setPosition(end, QTextCursor::KeepAnchor);
  setTextCursor(cursor);
}

void LogPane::ReplaceSel(const QString& text) {
  QTextCursor cursor = textCursor();
  cursor.insertText(ToPaneText(text));
  setTextCursor(cursor);
  ensureCursorVisible();
}

QString LogPane::LogText() const {
  QString text = toPlainText();
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return text;
}

QString LogPane::ToPaneText(const QString& text) {
  QString result = text;
  result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return result;
}

void LogPane::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
  if (!extra_actions_.isEmpty()) {
    menu->addSeparator();
    menu->addActions(extra_actions_);
  }
  menu->exec(event->globalPos());
}

}  // namespace torvane
