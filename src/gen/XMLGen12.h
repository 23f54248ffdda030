// The generator of version 12 files: the version 14 document with its save
// version, and without the custom field definitions, which the version 12
// reader does not take.
#pragma once

#include "gen/XMLGen14.h"

class CXMLGen12 : public CXMLGen14 {
 public:
  using CXMLGen14::CXMLGen14;
  std::int32_t GenerateMainXML() override;
};
