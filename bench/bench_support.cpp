#include "bench/bench_support.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "platform/utf8.h"

namespace orvel::bench {

namespace asio = boost::asio;
using asio::ip::udp;

int BenchDesktop::ShowMessage(WindowHandle, const std::wstring& text, const std::wstring& caption,
                              unsigned) {
  ++boxes;
  std::fprintf(stderr, "box: %s: %s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
  return mbox::kNo;
}

namespace {

bool PortFree(std::uint16_t port) {
  asio::io_context io;
  for (const char* address : {kDeviceAddress, kToolAddress}) {
    udp::socket socket(io, udp::v4());
    boost::system::error_code error;
    socket.bind(udp::endpoint(asio::ip::make_address_v4(address), port), error);
    if (error) return false;
  }
  return true;
}

}  // namespace

std::uint16_t PickPort(std::mt19937& random) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const auto port = static_cast<std::uint16_t>(20000 + random() % 12000);
    if (PortFree(port)) return port;
  }
  throw std::runtime_error("no free port");
}

std::vector<std::uint8_t> Image(std::size_t size) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>((i * 29) ^ (i >> 9));
  return image;
}

std::filesystem::path SimDevice::NewFolder(std::mt19937& random) {
  return std::filesystem::temp_directory_path() / ("orvel-bench-" + std::to_string(random()));
}

SimDevice::SimDevice(const std::string& program, std::uint16_t port, std::mt19937& random,
                     const std::vector<std::string>& options)
    : m_state(NewFolder(random)), m_process(program, [&] {
        std::vector<std::string> args = {"--address",          kDeviceAddress, "--port",
                                         std::to_string(port), "--state",      m_state.string()};
        args.insert(args.end(), options.begin(), options.end());
        return args;
      }()) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(m_state / "ready")) {
    if (!m_process.Running() || std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("orvel-sim did not become ready");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

SimDevice::~SimDevice() {
  m_process.Stop();
  std::error_code ignored;
  std::filesystem::remove_all(m_state, ignored);
}

std::size_t SimDevice::LogLinesWith(const std::string& text) const {
  std::ifstream log(m_state / "requests.log");
  std::size_t count = 0;
  for (std::string line; std::getline(log, line);) count += line.find(text) != std::string::npos;
  return count;
}

bool SimDevice::StateIs(const std::string& name, const std::uint8_t* data, std::size_t size) const {
  std::ifstream in(m_state / name, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  return bytes.size() == size && std::equal(bytes.begin(), bytes.end(), data);
}

}  // namespace orvel::bench
