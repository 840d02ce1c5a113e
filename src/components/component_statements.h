// The component statements: "Define Component", "Delete Component", "Get Component
// State", "Get Component Space", "Set Component State", "Set Component Space", "Set
// Component Choice" and "Set Component Visibility". They act at once on the component
// tables of the run. A statement that names a component that does not exist does
// nothing (the queries answer "FALSE" and "0").
#pragma once

namespace kem {

class StatementTable;
struct InterpreterHooks;

void RegisterComponentStatements(StatementTable& table);

// Resets the tables at the start of a run (the sizes from the setup data) and, in the
// preparation of a run that loaded no components, starts a first installation with the
// predefined component. Chains onto hooks already present.
void AddComponentHooks(InterpreterHooks& hooks);

}  // namespace kem
