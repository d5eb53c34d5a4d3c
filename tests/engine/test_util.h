#pragma once

#include <gtest/gtest.h>

#include <glm/vec3.hpp>

namespace tarvo::engine::testing {

/// Compares two vectors component by component within `tolerance`.
inline ::testing::AssertionResult Near(glm::vec3 actual, glm::vec3 expected,
                                       float tolerance = 1e-4f) {
  for (int i = 0; i < 3; ++i) {
    if (std::abs(actual[i] - expected[i]) > tolerance) {
      return ::testing::AssertionFailure()
             << "(" << actual.x << ", " << actual.y << ", " << actual.z << ") != (" << expected.x
             << ", " << expected.y << ", " << expected.z << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace tarvo::engine::testing
