// "MessageBox", "MessageBalloon" and "System Tray": talking to the user outside the
// wizard pages. Silent runs show nothing (and "MessageBox" writes no answer).
#pragma once

#include <string>

namespace kem {

class Interpreter;
class StatementTable;

// The style bits of a "MessageBox" icon code (0 information, 1 question, 2 warning,
// 3 error; any other: no icon) and buttons code (0 Abort/Retry/Ignore, 1 OK, 2 OK/Cancel,
// 3 Retry/Cancel, 4 Yes/No, 5 Yes/No/Cancel; any other: OK).
unsigned MessageBoxStyle(int icon, int buttons);
// The text stored for a button the user chose ("OK" ... "NO"); empty for 0 (no box).
std::string MessageBoxAnswer(int button);
// The balloon time-out in milliseconds for the parameter: 10 to 30 seconds, 10 for a
// non-number.
unsigned BalloonTimeoutMs(const std::string& seconds);

// What a click on the tray icon does: brings the setup's window back (from the tray when
// "System Tray" minimised it there) and makes it the foreground window. The dialog
// display does it when it provides the interpreter's RestoreFromTray hook (it knows the
// page on screen, modal or not, and a page displayed while minimised).
void RestoreFromTray(Interpreter& in);

void RegisterMessageStatements(StatementTable& table);

}  // namespace kem
