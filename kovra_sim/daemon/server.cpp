#include "daemon/server.h"

#include <algorithm>
#include <cerrno>

#include "daemon/connection.h"
#include "daemon/log.h"

namespace kovra_sim {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

std::string text_of(tcp::endpoint const& e) {
    boost::system::error_code ec;
    std::string const address = e.address().to_string(ec);
    return (e.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(e.port());
}

bool AcceptPause::shortage(boost::system::error_code const& ec) {
    if (ec.category() != boost::system::system_category()) return false;
    int const e = ec.value();
    return e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM;
}

void AcceptPause::failed(boost::system::error_code const& ec, std::function<void()> again) {
    if (failures_++ == 0) {
        log_line("%s: %s; accepting again in 100 ms, then less often, up to every 1 s", what_,
                 ec.message().c_str());
    }
    wait_ = std::clamp(wait_ * 2, std::chrono::milliseconds(100), std::chrono::milliseconds(1000));
    timer_.expires_after(wait_);
    timer_.async_wait([again = std::move(again)](boost::system::error_code e) {
        if (!e) again();
    });
}

void AcceptPause::worked() {
    if (failures_ == 0) return;
    log_line("%s: accepting again after %llu failed tries", what_,
             static_cast<unsigned long long>(failures_));
    failures_ = 0;
    wait_ = {};
}

Server::Server(asio::io_context& io, std::vector<asio::io_context*> workers,
               SharedSimulation& simulation, tcp::endpoint const& listen, Limits const& limits)
    : io_(io),
      workers_(std::move(workers)),
      simulation_(simulation),
      limits_(limits),
      acceptor_(io, listen),
      sweeper_(io),
      endpoint_(acceptor_.local_endpoint()),
      address_("tcp://" + text_of(endpoint_)),
      reboots_(io),
      back_(io),
      pause_(io, "accept") {
    simulation_.camera.listen(this);
}

Server::~Server() {
    simulation_.wire.unlisten();
    simulation_.camera.unlisten(this);
}

void Server::start() {
    accept();
    sweep();
    started_ = Clock::now();
    simulation_.wire.listen([this](auto plan) { schedule(plan); });
}

void Server::accept() {
    asio::io_context& worker = *workers_[next_worker_++ % workers_.size()];
    acceptor_.async_accept(worker, [this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (AcceptPause::shortage(ec)) {
            std::lock_guard lock(mutex_);
            if (!stopped_ && !down_) pause_.failed(ec, [this] { accept_again(); });
            return;
        }
        if (!ec) {
            std::shared_ptr<Connection> made;
            {
                std::lock_guard lock(mutex_);
                if (stopped_) return;
                pause_.worked();
                // One accepted as a reboot began is refused too: its socket closes as it goes.
                if (down_) return;
                bool const admitted = admitted_ < limits_.max_connections;
                if (!admitted) {
                    boost::system::error_code ignored;
                    log_line("connection limit %zu reached: refusing %s", limits_.max_connections,
                             text_of(socket.remote_endpoint(ignored)).c_str());
                }
                // Refusals are told in a welcome, a bounded number at a time.
                if (admitted || refusing_ < kRefusingAtOnce) {
                    ++(admitted ? admitted_ : refusing_);
                    made = std::make_shared<Connection>(*this, std::move(socket), ++accepted_,
                                                        admitted);
                    connections_.emplace(accepted_, made);
                }
            }
            if (made) made->start();
        } else {
            // A client that left before it was accepted, say: the next one may be fine.
            log_line("accept: %s", ec.message().c_str());
        }
        accept_again();
    });
}

void Server::accept_again() {
    std::lock_guard lock(mutex_);
    if (!stopped_ && !down_) accept();  // else a reboot's end or nothing accepts again
}

void Server::sweep() {
    sweeper_.expires_after(std::chrono::milliseconds(250));
    sweeper_.async_wait([this](boost::system::error_code ec) {
        if (ec) return;
        auto const now = Clock::now();
        std::lock_guard lock(mutex_);
        for (auto const& c : open_connections()) c->check(now);
        if (!stopped_) sweep();
    });
}

std::vector<std::shared_ptr<Connection>> Server::open_connections() {
    std::vector<std::shared_ptr<Connection>> open;
    for (auto& [number, weak] : connections_) {
        if (auto c = weak.lock()) open.push_back(std::move(c));
    }
    return open;
}

void Server::announce(int service) {
    if (simulation_.stats.on()) simulation_.stats.announced(target_name(service));
    std::vector<std::shared_ptr<Connection>> listening;
    {
        std::lock_guard lock(mutex_);
        for (auto& c : open_connections())
            if (c->subscribed()) listening.push_back(std::move(c));
        announced_[std::string(target_name(service))] += listening.size();
    }
    for (auto const& c : listening) c->announce(service);
}

namespace {

nlohmann::json figures(Connection const& c) {
    return {{"connection", c.number()}, {"peer", c.peer()}, {"calls", c.calls()}};
}

}  // namespace

void Server::forget(Connection const& closed) {
    std::lock_guard lock(mutex_);
    connections_.erase(closed.number());
    --(closed.admitted() ? admitted_ : refusing_);
    if (closed.calls() == 0) return;  // a peer that only knocked
    closed_.push_back(figures(closed));
    if (closed_.size() > kClosedKept) closed_.pop_front();
}

nlohmann::json Server::connections() {
    std::lock_guard lock(mutex_);
    nlohmann::json all = closed_;
    for (auto const& c : open_connections()) {
        all.push_back(figures(*c));
        all.back()["open"] = true;
    }
    return all;
}

Server::Tally Server::tally() {
    std::lock_guard lock(mutex_);
    return {connections_.size(), accepted_, announced_};
}

void Server::schedule(std::optional<WireFaults::Reboot> plan) {
    asio::post(io_, [this, plan] {
        if (plans_++ == 0) start_plan_ = plan;  // told first by start()
        plan_ = plan;
        reboots_.cancel();
        if (!plan) return;
        if (!plan->every_s) return reboot(std::chrono::seconds(plan->seconds));
        auto const every = std::chrono::seconds(plan->every_s);
        auto const now = Clock::now();
        bool const the_start_s = start_plan_ && start_plan_->seconds == plan->seconds &&
                                 start_plan_->every_s == plan->every_s;
        // Frequent resets would otherwise put every reboot off for good.
        reboot_at(the_start_s ? started_ + every * ((now - started_) / every + 1) : now + every,
                  plans_);
    });
}

void Server::reboot_at(Clock::time_point when, uint64_t plan) {
    reboots_.expires_at(when);
    reboots_.async_wait([this, plan](boost::system::error_code ec) {
        if (ec || plan != plans_) return;
        reboot(std::chrono::seconds(plan_->seconds));
        reboot_at(reboots_.expiry() + std::chrono::seconds(plan_->every_s), plan);
    });
}

bool Server::after_reset() {
    {
        std::lock_guard lock(mutex_);
        announced_.clear();
    }
    if (!down_) return false;
    back_.cancel();
    come_back();
    return true;
}

void Server::reboot(std::chrono::seconds down) {
    std::vector<std::shared_ptr<Connection>> open;
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || down_) return;
        down_ = true;
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        pause_.cancel();
        open = open_connections();
    }
    simulation_.wire.count(WireFault::reboot);
    log_line("rebooting: %zu connections closed, refusing new ones for %lld s", open.size(),
             static_cast<long long>(down.count()));
    for (auto const& c : open) c->close("the camera reboots");
    come_back_after(down);
}

void Server::come_back_after(Clock::duration wait) {
    back_.expires_after(wait);
    back_.async_wait([this](boost::system::error_code ec) {
        if (!ec) come_back();
    });
}

void Server::come_back() {
    if (!down_) return;  // ended early, its timer already due
    simulation_.restore_start();
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        try {
            acceptor_ = tcp::acceptor(io_, endpoint_);
        } catch (boost::system::system_error const& e) {
            log_line("cannot listen again on %s after a reboot: %s; trying again in 1 s",
                     address_.c_str(), e.code().message().c_str());
            return come_back_after(std::chrono::seconds(1));
        }
        down_ = false;
        accept();
    }
    log_line("back from a reboot, listening on %s", address_.c_str());
    back_.expires_after(kAnnounceAfterReboot);
    back_.async_wait([this](boost::system::error_code ec) {
        if (ec) return;
        for (int service = 0; service < kServiceCount; ++service)
            simulation_.camera.restart(service);
    });
}

void Server::stop() {
    asio::post(io_, [this] {
        std::vector<std::shared_ptr<Connection>> open;
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
            boost::system::error_code ignored;
            acceptor_.close(ignored);
            sweeper_.cancel();
            reboots_.cancel();
            back_.cancel();
            pause_.cancel();
            open = open_connections();
        }
        for (auto const& c : open) c->close("the daemon is stopping");
    });
}

}  // namespace kovra_sim
