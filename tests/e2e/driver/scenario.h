// The suite's scenarios: each a name, a time limit and a body that works the real program.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct Scenario {
    std::wstring name;
    std::function<void()> run;
    int limit_s = 60;
};

std::vector<Scenario>& Registry();

struct RegisterScenario {
    explicit RegisterScenario(Scenario s) { Registry().push_back(std::move(s)); }
};

}  // namespace e2e
