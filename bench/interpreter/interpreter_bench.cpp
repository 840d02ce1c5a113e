// Statements per second of the interpreter: a straight script of 100,000 statements
// (validation included) and a loop of 1,000,000 "Set Variable" statements with one
// reference each, driven by "GoTo Label".
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>

#include "engine/engine_context.h"
#include "engine/services.h"
#include "script/interpreter/interpreter.h"
#include "script/statements/dialog_statements.h"
#include "script/statements/variable_statements.h"
#include "script/termination/termination.h"
#include "script/validation/script_validation.h"
#include "support/quiet_host.h"
#include "support/script_builder.h"

namespace {

using kem::test::QuietHost;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the process: on a machine shared with other work the wall clock overstates
// the cost.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double g_cpu = 0;

double RunScript(kem::SetupData data) {
  QuietHost host;
  kem::EngineContext ctx;
  ctx.Startup.ProgramPath = "C:\\App\\setup.exe";
  ctx.Startup.ProgramFolder = "C:\\App\\";
  ctx.Startup.TempFolder = ctx.Startup.TempDirVariable = "C:\\Temp\\";
  ctx.Data = std::move(data);
  kem::StatementTable table;
  kem::RegisterVariableStatements(table);
  kem::RegisterTerminationStatements(table);
  kem::RegisterDialogStatements(table);
  kem::Interpreter interpreter(ctx, kem::Services{host, host, host, host, host, host}, table);
  auto start = std::chrono::steady_clock::now();
  double cpu = CpuSeconds();
  interpreter.Run({}, "C:\\Temp\\kem1\\setup.msi");
  g_cpu = CpuSeconds() - cpu;
  return Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main() {
  {
    constexpr int kStatements = 100000;
    kem::test::ScriptBuilder script;
    script.Add("Set Variable", {"B", "0"});
    for (int i = 1; i < kStatements; ++i) {
      if (i % 4 == 0)
        script.Add("Comment", {"note"});
      else
        script.Add("Set Variable", {"V" + std::to_string(i % 50), "x$B$y"});
    }
    kem::SetupData data = script.Build();
    kem::ResolveStatementKinds(data);
    auto start = std::chrono::steady_clock::now();
    bool valid = !kem::ValidateScript(data);
    double v = Seconds(std::chrono::steady_clock::now() - start);
    double s = RunScript(data);
    std::printf("straight script: %d statements in %.3f s (validation included): %.0f statements/s "
                "(%.0f per CPU second); the validation pass alone %.3f s (%s)\n",
                kStatements, s, kStatements / s, kStatements / g_cpu, v, valid ? "valid" : "invalid");
  }
  {
    constexpr int kPerIteration = 10;
    constexpr int kIterations = 100000;
    kem::test::ScriptBuilder script;
    script.Add("Set Variable", {"N", "0"});
    script.Add("Set Variable", {"B", "value"});
    script.Add("Label", {"top"});
    for (int i = 0; i < kPerIteration; ++i) script.Add("Set Variable", {"A" + std::to_string(i), "$B$"});
    script.Add("Mathematics", {"$N$", "1", "0", "N"});
    script.Add("If", {"N", "2", std::to_string(kIterations - 1), "TRUE"});
    script.Add("GoTo Label", {"top"});
    script.Add("End");
    kem::SetupData data = script.Build();
    double s = RunScript(data);
    const double setVariables = double(kPerIteration) * kIterations;
    const double statements = double(kPerIteration + 4) * kIterations;
    std::printf("GoTo loop: %.0f Set Variable (one reference each), %.0f statements in %.3f s: %.0f statements/s "
                "(%.0f per CPU second), %.0f Set Variable/s\n",
                setVariables, statements, s, statements / s, statements / g_cpu, setVariables / s);
  }
  return 0;
}
