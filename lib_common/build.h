// The build number that the server reports: to clients asking OP_BUILD, to monitors, in the
// banner and in the database check-up.
#pragma once

constexpr const char* kBuildNumber = "20110117";
