// The mail layer's state, shared by its Windows files.
#pragma once

#include <atomic>
#include <cstdint>

#include "report_ui/mail/win/mail_test_network.h"

namespace kestrix::mail {

// Constant-initialized and never destroyed.
struct TMailState {
  // Counted up by each DNS query: part of its identifier.
  std::atomic<uint32_t> dnsQueries{0};
  // The test network that replaces the real one: set by tests only.
  std::atomic<const TMailTestNetwork*> testNetwork{nullptr};
};
TMailState& MailState();

}  // namespace kestrix::mail
