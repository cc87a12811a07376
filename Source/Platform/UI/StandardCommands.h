#pragma once

#include "Platform/UI/Command.h"

// The commands the interface layer itself sends and answers: the standard edit and window
// commands, and the ones the standard key bindings send.
namespace kesto::ui::cmd {

inline constexpr Command undo{"undo:"};
inline constexpr Command redo{"redo:"};
inline constexpr Command cut{"cut:"};
inline constexpr Command copy{"copy:"};
inline constexpr Command paste{"paste:"};
inline constexpr Command selectAll{"selectAll:"};
inline constexpr Command delete_{"delete:"};
inline constexpr Command performClose{"performClose:"};
inline constexpr Command performMiniaturize{"performMiniaturize:"};
inline constexpr Command performZoom{"performZoom:"};
inline constexpr Command terminate{"terminate:"};
inline constexpr Command orderFrontStandardAboutPanel{"orderFrontStandardAboutPanel:"};
inline constexpr Command toggleFullScreen{"toggleFullScreen:"};
inline constexpr Command cancelOperation{"cancelOperation:"};
inline constexpr Command insertNewline{"insertNewline:"};
inline constexpr Command insertTab{"insertTab:"};
inline constexpr Command insertBacktab{"insertBacktab:"};
inline constexpr Command deleteBackward{"deleteBackward:"};
inline constexpr Command deleteForward{"deleteForward:"};
inline constexpr Command moveLeft{"moveLeft:"};
inline constexpr Command moveRight{"moveRight:"};
inline constexpr Command moveUp{"moveUp:"};
inline constexpr Command moveDown{"moveDown:"};
inline constexpr Command moveLeftAndModifySelection{"moveLeftAndModifySelection:"};
inline constexpr Command moveRightAndModifySelection{"moveRightAndModifySelection:"};
inline constexpr Command moveUpAndModifySelection{"moveUpAndModifySelection:"};
inline constexpr Command moveDownAndModifySelection{"moveDownAndModifySelection:"};
inline constexpr Command moveWordLeft{"moveWordLeft:"};
inline constexpr Command moveWordRight{"moveWordRight:"};
inline constexpr Command moveWordLeftAndModifySelection{"moveWordLeftAndModifySelection:"};
inline constexpr Command moveWordRightAndModifySelection{"moveWordRightAndModifySelection:"};
inline constexpr Command moveToBeginningOfLine{"moveToBeginningOfLine:"};
inline constexpr Command moveToEndOfLine{"moveToEndOfLine:"};
inline constexpr Command moveToBeginningOfLineAndModifySelection{"moveToBeginningOfLineAndModifySelection:"};
inline constexpr Command moveToEndOfLineAndModifySelection{"moveToEndOfLineAndModifySelection:"};
inline constexpr Command moveToBeginningOfDocument{"moveToBeginningOfDocument:"};
inline constexpr Command moveToEndOfDocument{"moveToEndOfDocument:"};
inline constexpr Command moveToBeginningOfDocumentAndModifySelection{"moveToBeginningOfDocumentAndModifySelection:"};
inline constexpr Command moveToEndOfDocumentAndModifySelection{"moveToEndOfDocumentAndModifySelection:"};
inline constexpr Command scrollToBeginningOfDocument{"scrollToBeginningOfDocument:"};
inline constexpr Command scrollToEndOfDocument{"scrollToEndOfDocument:"};
inline constexpr Command scrollPageUp{"scrollPageUp:"};
inline constexpr Command scrollPageDown{"scrollPageDown:"};

}  // namespace kesto::ui::cmd
