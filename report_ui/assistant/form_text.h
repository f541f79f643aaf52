// The readable form files in the tree (forms/*.kxform), from which the build
// step writes the binary definitions:
//
//   // a comment
//   object ContactForm: TNVForm
//     Message = 'Contact Information'
//     object NameEdit: TNVEdit
//       Optional = True
//       OutputType = nvoHeader
//       OutputName = 'contact name'
//     end
//   end
//
// Values: integers, True/False, 'strings' ('' stands for a quote; UTF-8 in
// the file, stored in Latin-1), identifiers.
#pragma once

#include <string>

#include "report_ui/assistant/form_definition.h"

namespace kestrix {

// Throws std::invalid_argument naming the line of the first fault.
TFormObject ParseFormText(const std::string& text);

// The definition as readable text again (for people and for the tests).
std::string FormText(const TFormObject& root);

}  // namespace kestrix
