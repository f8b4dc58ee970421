#pragma once
// The window's shared state is the form's own; tests read it through MainForm::shared().
// A test that must put it at an edge directly (a counter about to wrap, rights held
// without the password dialog, a setting only the saved file gives) reaches it here.
#include "app/mainform.h"

namespace app {

struct FormTestAccess {
  static FormState& state(MainForm& form) { return form; }
};

}  // namespace app

namespace testsupport {

inline app::FormState& editState(app::MainForm& form) { return app::FormTestAccess::state(form); }

}  // namespace testsupport
