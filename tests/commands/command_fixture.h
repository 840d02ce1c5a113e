// Scripts run with the command statements over the scripted machine.
#pragma once

#include "commands/command_statements.h"
#include "fake_commands.h"
#include "support/script_fixture.h"

namespace kem::test {

class CommandTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    moreStatements = [this](StatementTable& table, InterpreterHooks& h) {
      RegisterCommandStatements(table, h, CommandServices{files, registry, system, programs});
    };
  }
  // The message of the statement failure shown by the last run; empty when none.
  std::string Failure() const { return host.boxes.empty() ? std::string() : host.boxes.front().text; }

  FakeFiles files;
  FakeRegistry registry;
  FakeSystemQueries system;
  FakePrograms programs;
};

}  // namespace kem::test
