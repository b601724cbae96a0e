#pragma once
namespace rh {
class Desk;
// Attaches every release step that exists to the desk's driver table and the
// desk's other commands. Steps not attached are skipped by the driver.
void attachSteps(Desk& desk);
} // namespace rh
