#pragma once
// The last run as JUnit XML, so a CI engine that runs the headless release
// shows each project's steps as test cases: one case per step and project,
// failed when an "[오류]" line was written for it (or the step stopped the run
// while on it), with its log lines; selected steps the run never reached are
// skipped cases.
#include <QByteArray>

namespace rh {
class Desk;
QByteArray junitReport(const Desk& desk);
} // namespace rh
