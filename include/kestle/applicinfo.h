// ApplicInfoStruct: the platform's record of application information. It holds no data here;
// its constructors and assignments do nothing.
#pragma once

#include "kestle/export.h"

class KESTLE_API ApplicInfoStruct {
 public:
  ApplicInfoStruct() {}
  ApplicInfoStruct(ApplicInfoStruct const&) {}
  ApplicInfoStruct& operator=(ApplicInfoStruct const&) { return *this; }
  ApplicInfoStruct& operator=(ApplicInfoStruct&&) { return *this; }
};
