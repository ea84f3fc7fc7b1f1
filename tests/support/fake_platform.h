// The base of a test's platform, in use from its construction to its
// destruction (fakes end in the reverse order of their making): each contact
// goes on to the platform in use before it (the system's, or an enclosing
// fake such as the fake root of TempRoot), except those a test overrides.
#pragma once
#include "app/platform.h"

class FakePlatform : public CPlatformWrapper {
 public:
  FakePlatform() : CPlatformWrapper(platform()) {}

 private:
  CScopedPlatform use{*this};
};
