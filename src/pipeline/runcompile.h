#pragma once
// The run and compile steps of the release: each ticked project is run once in
// the development environment, then compiled and packed.
#include <QString>

namespace rh {

class Desk;

// The development environment; fixed, not configurable.
QString developmentEnvironmentPath();

// Runs every ticked project with the run-then-exit switch and waits for it;
// then asks whether all runs were good. True only on Yes.
bool Step1_1(Desk& desk);

// Deletes each ticked project's executable, compiles it (with a retry prompt
// while no executable appears) and packs and unpacks it with the packer.
bool Step1_2(Desk& desk);

} // namespace rh
