// Program execution: "Run Program" through the shell, "Run Program As" (plainly, as
// another user or as the logged-on user), "Run Light Mode Setup" and "Register Library".
// The start and the wait run on a worker thread; a cancel stops the wait (the program
// runs on) and the statement reports -314.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/services/commands.h"

namespace kem {

class StatementTable;

inline constexpr int kCancelledRunCode = -314;

// The environment block's strings from the statement's lines (CR LF or LF separated);
// empty lines are skipped, since one would end the block. nullopt for an empty text.
std::optional<std::vector<std::string>> EnvironmentLines(std::string_view text);
// The window mode of "Run Program As" for its show code; plain: a start without a user.
int ShowModeOf(int code, bool plain);

void RegisterProgramStatements(StatementTable& table, ProgramService& programs, CommandFileService& files,
                               SystemQueryService& system);

}  // namespace kem
