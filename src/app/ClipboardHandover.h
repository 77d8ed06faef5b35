#pragma once

// The hand-over of the clipboard to the desktop's clipboard manager, which keeps a copied text
// alive after the program that copied it has ended.
namespace Clipboard {

// When this program owns the clipboard and the desktop has a clipboard manager (the X11
// CLIPBOARD_MANAGER protocol), hands the clipboard's text to it and returns once the manager has
// saved it, or gave up, or after a few seconds at most. Without a manager it returns at once.
// UI thread, just before the process ends: the toolkit's own hand-over never runs then.
void handOver();

} // namespace Clipboard
