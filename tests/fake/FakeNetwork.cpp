#include "FakeNetwork.h"

#include <algorithm>

#include "FakePlatform.h"

namespace rlv::fake {

// ---------------------------------------------------------------------------
// FakePeer

void FakePeer::Send(const std::vector<uint8_t>& bytes) {
  auto self = shared_from_this();
  net_.clock_.Post(net_.latency_, [self, bytes] {
    if (!self->open_ || self->app_ == nullptr) return;
    FakeTcpSocket* app = self->app_;
    app->rx_.insert(app->rx_.end(), bytes.begin(), bytes.end());
    if (app->ready_read_) app->ready_read_();
  });
}

void FakePeer::Send(const std::string& text) {
  Send(std::vector<uint8_t>(text.begin(), text.end()));
}

void FakePeer::Close() {
  auto self = shared_from_this();
  net_.clock_.Post(net_.latency_, [self] {
    if (!self->open_) return;
    self->open_ = false;
    if (FakeTcpSocket* app = self->app_) {
      if (app->disconnected_) app->disconnected_();
    }
  });
}

void FakePeer::Reset() {
  auto self = shared_from_this();
  net_.clock_.Post(net_.latency_, [self] {
    if (!self->open_) return;
    self->open_ = false;
    FakeTcpSocket* app = self->app_;
    if (app == nullptr) return;
    std::weak_ptr<int> alive = app->alive_;
    if (app->error_) app->error_(platform::SocketError::ConnectionReset, "Connection reset by peer");
    // The error handler may have destroyed or aborted the socket.
    if (alive.expired() || self->app_ != app) return;
    if (app->disconnected_) app->disconnected_();
  });
}

void FakePeer::Vanish() {
  silent_ = true;
}

void FakePeer::Deliver(const std::vector<uint8_t>& bytes) {
  if (!open_ || silent_) return;
  received_.insert(received_.end(), bytes.begin(), bytes.end());
  if (on_receive) on_receive(*this, bytes);
}

void FakePeer::EndFromApp() {
  if (!open_) return;
  open_ = false;
  closed_by_app_ = true;
  if (on_close) on_close(*this);
}

// ---------------------------------------------------------------------------
// FakeTcpSocket

FakeTcpSocket::~FakeTcpSocket() {
  if (peer_ && peer_->open_ && !closing_) {
    auto peer = peer_;
    net_.clock_.Post(net_.latency_, [peer] { peer->EndFromApp(); });
  }
  Detach();
}

void FakeTcpSocket::Later(int delay, std::function<void()> task) {
  std::weak_ptr<int> alive = alive_;
  const int generation = *alive_;
  net_.clock_.Post(delay, [alive, generation, task = std::move(task)] {
    auto token = alive.lock();
    if (!token || *token != generation) return;
    task();
  });
}

void FakeTcpSocket::Attach(std::shared_ptr<FakePeer> peer) {
  Detach();
  peer_ = std::move(peer);
  peer_->app_ = this;
  closing_ = false;
  rx_.clear();
}

void FakeTcpSocket::Detach() {
  if (peer_ && peer_->app_ == this) peer_->app_ = nullptr;
  peer_.reset();
}

void FakeTcpSocket::ConnectToHost(const std::string& host, uint16_t port) {
  Abort();
  Later(net_.latency_, [this, host, port] {
    auto it = net_.targets_.find({host, port});
    if (it == net_.targets_.end() || !it->second.accept) {
      const platform::SocketError error =
          it == net_.targets_.end() ? platform::SocketError::ConnectionRefused : it->second.error;
      if (it != net_.targets_.end() && it->second.stall) return;
      if (error_)
        error_(error, error == platform::SocketError::HostNotFound ? "Host not found" : "Connection refused");
      return;
    }
    auto peer = std::make_shared<FakePeer>(net_, host, port);
    net_.peers_.push_back(peer);
    Attach(peer);
    std::weak_ptr<int> alive = alive_;
    it->second.accept(peer);
    if (alive.expired() || peer_ != peer) return;
    if (connected_) connected_();
  });
}

int FakeTcpSocket::Read(uint8_t* buffer, int max) {
  if (buffer == nullptr || max <= 0) return 0;
  const size_t n = std::min(rx_.size(), static_cast<size_t>(max));
  std::copy(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n), buffer);
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

int FakeTcpSocket::Write(const uint8_t* data, int count) {
  if (!IsConnected() || count < 0 || (data == nullptr && count > 0)) return -1;
  if (count == 0) return 0;
  std::vector<uint8_t> bytes(data, data + count);
  auto peer = peer_;
  net_.clock_.Post(net_.latency_, [peer, bytes] { peer->Deliver(bytes); });
  Later(0, [this, count] {
    if (written_) written_(count);
  });
  return count;
}

void FakeTcpSocket::Close() {
  if (!IsConnected()) return;
  closing_ = true;
  auto peer = peer_;
  // Queued bytes go first: they were posted earlier with the same latency.
  net_.clock_.Post(net_.latency_, [peer] { peer->EndFromApp(); });
  Later(net_.latency_, [this] {
    if (disconnected_) disconnected_();
  });
}

void FakeTcpSocket::Abort() {
  ++*alive_;
  if (peer_ && peer_->open_) {
    peer_->open_ = false;
    peer_->closed_by_app_ = true;
    auto peer = peer_;
    net_.clock_.Post(net_.latency_, [peer] {
      if (peer->on_close) peer->on_close(*peer);
    });
  }
  Detach();
  rx_.clear();
  closing_ = false;
}

// ---------------------------------------------------------------------------
// FakeTcpServer

FakeTcpServer::~FakeTcpServer() {
  Close();
}

bool FakeTcpServer::Listen(const std::string& address, uint16_t port) {
  Close();
  auto refused = net_.refused_ports_.find(port);
  if (refused != net_.refused_ports_.end()) {
    last_error_ = refused->second;
    net_.refused_ports_.erase(refused);
    return false;
  }
  if (port == 0) {
    while (net_.servers_.count(net_.next_free_port_) != 0) ++net_.next_free_port_;
    port = net_.next_free_port_++;
  } else if (net_.servers_.count(port) != 0) {
    last_error_ = "The bound address is already in use";
    return false;
  }
  net_.servers_[port] = this;
  port_ = port;
  address_ = address;
  listening_ = true;
  last_error_.clear();
  return true;
}

void FakeTcpServer::Close() {
  if (!listening_) return;
  auto it = net_.servers_.find(port_);
  if (it != net_.servers_.end() && it->second == this) net_.servers_.erase(it);
  listening_ = false;
}

// ---------------------------------------------------------------------------
// FakeNetwork

void FakeNetwork::Listen(const std::string& host, uint16_t port, Accept accept) {
  Target target;
  target.accept = std::move(accept);
  targets_[{host, port}] = std::move(target);
}

void FakeNetwork::StopListening(const std::string& host, uint16_t port) {
  targets_.erase({host, port});
}

void FakeNetwork::FailConnect(const std::string& host, uint16_t port, platform::SocketError error) {
  Target target;
  target.error = error;
  targets_[{host, port}] = std::move(target);
}

void FakeNetwork::StallConnect(const std::string& host, uint16_t port) {
  Target target;
  target.stall = true;
  targets_[{host, port}] = std::move(target);
}

FakeTcpServer* FakeNetwork::ServerOn(uint16_t port) const {
  auto it = servers_.find(port);
  return it == servers_.end() ? nullptr : it->second;
}

std::shared_ptr<FakePeer> FakeNetwork::ConnectToServer(uint16_t port, const std::string& from) {
  if (ServerOn(port) == nullptr) return nullptr;
  auto peer = std::make_shared<FakePeer>(*this, from, static_cast<uint16_t>(50000 + peers_.size() % 10000));
  peers_.push_back(peer);
  auto socket = std::make_shared<std::unique_ptr<FakeTcpSocket>>(std::make_unique<FakeTcpSocket>(*this));
  (*socket)->Attach(peer);
  clock_.Post(latency_, [this, port, socket, peer] {
    FakeTcpServer* server = ServerOn(port);
    if (server == nullptr || !server->handler_) {
      peer->open_ = false;  // refused: nobody accepted it
      return;
    }
    server->handler_(std::move(*socket));
  });
  return peer;
}

}  // namespace rlv::fake
