#pragma once
// A dialog template as data: what the resource script describes, in a form the headless backend
// can build its model from. The program's templates are defined in app/res/dialog_templates.cpp;
// a test checks that they agree with the resource script.

#include "platform/dialog.h"

#include <string>
#include <vector>

namespace platform {

struct ControlTemplate {
    int id;                  // -1 for controls without identifier (icon, bitmap)
    ControlKind kind;        // Static, Edit, Button, Progress, Picture
    std::string text;        // template text ("" for none; resource name for pictures)
    int x, y, width, height; // dialog units
    bool visible;            // visible at creation
    std::string styles;      // the script's style words for the control, e.g. "SS_CENTER"
};

struct DialogTemplate {
    int id;
    std::string caption;
    int width, height; // dialog units
    std::string fontFace;
    int fontPoints;
    std::vector<ControlTemplate> controls; // template order = tab order
};

// The program's template with this identifier, or null.
const DialogTemplate* LookUpDialogTemplate(int id);

// The program's string-table entry with this identifier, or null.
const char* LookUpStringTemplate(int id);

} // namespace platform
