#pragma once
// Whether a terminal belongs to somebody's session: a shell's terminal must never be written to
// or reconfigured, whatever its modes look like.

namespace serial {

// True when the terminal open on `fd` is the controlling terminal of some session. TIOCGSID
// answers only on a session's own terminal or a pseudo-terminal's master side, so for anyone
// else's terminal the processes' controlling terminals are looked up in /proc. Changes nothing.
[[nodiscard]] bool TerminalInUse(int fd);

}  // namespace serial
