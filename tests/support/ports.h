#pragma once
// Loopback ports for timeout cases: one that refuses connections and one that
// accepts them (into the kernel's backlog) and never answers.

namespace rh::test {

// A port of 127.0.0.1 that nobody listens on (it was free a moment ago): for
// a client to be refused, or for a server the test starts to take.
int refusingPort();

class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    // 0 when it could not listen.
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace rh::test
