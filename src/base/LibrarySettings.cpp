#include "base/LibrarySettings.h"

StatusTexts BuiltInStatusTexts() {
  return {{"Pass 1: Opening file...", "Pass 2: Parsing file...", "Pass 3: Recovering file data...",
           "Pass 4: Writing recovered data...", "done"}};
}

StatusTexts ExternStatusKeys() {
  return {{"App/Resources/DllStrings/mdw/Pass1", "App/Resources/DllStrings/mdw/Pass2",
           "App/Resources/DllStrings/mdw/Pass3", "App/Resources/DllStrings/mdw/Pass4",
           "App/Resources/DllStrings/mdw/Done"}};
}
