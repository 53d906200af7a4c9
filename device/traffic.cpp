#include "device/traffic.h"

namespace orvel {

const char* DatagramFateName(DatagramFate fate) {
  switch (fate) {
    case DatagramFate::Taken:
      return "taken";
    case DatagramFate::Stranger:
      return "stranger";
    case DatagramFate::Stale:
      return "stale";
    case DatagramFate::Short:
      return "short";
    case DatagramFate::WrongEcho:
      return "wrong echo";
    case DatagramFate::TooLong:
      return "too long";
    case DatagramFate::Ignored:
      return "ignored";
  }
  return "?";
}

}  // namespace orvel
