// Runs window event handlers so that no exception leaves them: what escapes is reported on the
// error stream as "VARNEL: <handler>: <message>", once until that handler has succeeded again.
#pragma once

#include <exception>
#include <iostream>
#include <set>
#include <string>

namespace varnel {

class HandlerGuard {
  public:
    explicit HandlerGuard(std::ostream& errors = std::cerr) : errors_(errors) {}

    template <typename F>
    void run(const std::string& handler, F&& body) {
        try {
            body();
            succeeded(handler);
        } catch (const std::exception& e) {
            failed(handler, handler, e.what());
        } catch (...) {
            failed(handler, handler, "unknown error");
        }
    }

    // A failure that the handler survives; `key` tells apart several kinds in one handler.
    void failed(const std::string& key, const std::string& handler, const std::string& message) {
        if (failing_.insert(key).second)
            errors_ << "VARNEL: " << handler << ": " << message << std::endl;
    }
    void succeeded(const std::string& key) { failing_.erase(key); }

  private:
    std::ostream& errors_;
    std::set<std::string> failing_;
};

}  // namespace varnel
