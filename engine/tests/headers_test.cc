#include <gtest/gtest.h>

#include "vintrel/env.h"
#include "vintrel/exp.h"
#include "vintrel/functions.h"
#include "vintrel/interpreter.h"
#include "vintrel/panic.h"
#include "vintrel/parser.h"
#include "vintrel/path.h"
#include "vintrel/utils.h"

TEST(Panic, CarriesItsMessage) {
  try {
    vintrel::panic("Value stack underflow");
    FAIL();
  } catch (const vintrel::Panic& p) {
    EXPECT_EQ(p.message(), "Value stack underflow");
  }
}
