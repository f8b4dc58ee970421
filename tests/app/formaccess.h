#pragma once
// The window's shared state is the form's own; tests read it through MainForm::shared().
// A test that must put it at an edge directly (a counter about to wrap, rights held
// without the password dialog, a setting only the saved file gives) reaches it here.
#include "app/mainform.h"

namespace app {

struct FormTestAccess {
  static FormState& state(MainForm& form) { return form; }
  static acquire::Session& session(MainForm& form) { return form.m_session; }
  /// One whole line as if the port had given it, under the rules the form is in.
  static void dispatch(MainForm& form, const std::string& line) {
    form.syncDispatch();
    form.m_session.dispatchLine(line);
  }
};

}  // namespace app

namespace testsupport {

inline app::FormState& editState(app::MainForm& form) { return app::FormTestAccess::state(form); }
inline acquire::Session& formSession(app::MainForm& form) { return app::FormTestAccess::session(form); }
inline void dispatchLine(app::MainForm& form, const std::string& line) { app::FormTestAccess::dispatch(form, line); }

}  // namespace testsupport
