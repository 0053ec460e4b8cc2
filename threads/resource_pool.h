// Things a job borrows and gives back: block buffers, a coder's state, an open archive handle.
// The pool makes one only when none is free, so a run of jobs on N threads makes at most about N
// of each (more only when the caller holds some, as the writer holds blocks in flight), and each
// is reused by the jobs after it. Safe to use from any thread; the pool must outlive its leases.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace threads {

template <typename T>
class ResourcePool {
  public:
    // A borrowed T; going out of scope gives it back. Movable, not copyable.
    class Lease {
      public:
        Lease() = default;
        Lease(Lease&& other) noexcept
            : pool_(std::exchange(other.pool_, nullptr)), item_(std::move(other.item_)) {}
        Lease& operator=(Lease&& other) noexcept {
            if (this != &other) {
                Release();
                pool_ = std::exchange(other.pool_, nullptr);
                item_ = std::move(other.item_);
            }
            return *this;
        }
        ~Lease() { Release(); }

        T& operator*() const { return *item_; }
        T* operator->() const { return item_.get(); }
        explicit operator bool() const { return item_ != nullptr; }

      private:
        friend class ResourcePool;
        Lease(ResourcePool* pool, std::unique_ptr<T> item) : pool_(pool), item_(std::move(item)) {}
        void Release() {
            if (pool_ != nullptr && item_ != nullptr) pool_->GiveBack(std::move(item_));
            pool_ = nullptr;
        }

        ResourcePool* pool_ = nullptr;
        std::unique_ptr<T> item_;
    };

    // make builds a new T when none is free; null make: a default-constructed T. make runs
    // without the pool's lock, on the thread that takes.
    explicit ResourcePool(std::function<std::unique_ptr<T>()> make = nullptr)
        : make_(std::move(make)) {}

    // A free T, or a new one. A T comes back as it was left: the taker resets what it needs.
    Lease Take() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!free_.empty()) {
                std::unique_ptr<T> item = std::move(free_.back());
                free_.pop_back();
                return Lease(this, std::move(item));
            }
        }
        return Lease(this, make_ ? make_() : std::make_unique<T>());
    }

  private:
    void GiveBack(std::unique_ptr<T> item) {
        std::lock_guard<std::mutex> guard(lock_);
        free_.push_back(std::move(item));
    }

    std::function<std::unique_ptr<T>()> make_;
    std::mutex lock_;
    std::vector<std::unique_ptr<T>> free_;
};

// Block-sized byte buffers: a buffer keeps its capacity from one lease to the next.
using BufferPool = ResourcePool<std::vector<uint8_t>>;

}  // namespace threads
