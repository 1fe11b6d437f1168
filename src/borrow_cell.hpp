// A value behind a borrow counter: any number of shared borrows, or one exclusive
// borrow. Single-threaded: the counter is plain.
#pragma once

#include <optional>
#include <utility>

namespace quillfen {

template <class T>
class BorrowCell {
  public:
    explicit BorrowCell(T value) : value_(std::move(value)) {}
    BorrowCell(const BorrowCell&) = delete;
    BorrowCell& operator=(const BorrowCell&) = delete;

    // Gives the borrow back when it goes out of scope.
    class Shared {
      public:
        explicit Shared(BorrowCell& cell) : cell_(&cell) { ++cell.borrows_; }
        Shared(Shared&& other) noexcept : cell_(std::exchange(other.cell_, nullptr)) {}
        Shared(const Shared&) = delete;
        ~Shared() {
            if (cell_ != nullptr)
                --cell_->borrows_;
        }
        T& operator*() const { return cell_->value_; }
        T* operator->() const { return &cell_->value_; }

      private:
        BorrowCell* cell_;
    };

    class Exclusive {
      public:
        explicit Exclusive(BorrowCell& cell) : cell_(&cell) { cell.borrows_ = exclusive; }
        Exclusive(Exclusive&& other) noexcept : cell_(std::exchange(other.cell_, nullptr)) {}
        Exclusive(const Exclusive&) = delete;
        ~Exclusive() {
            if (cell_ != nullptr)
                cell_->borrows_ = 0;
        }
        T& operator*() const { return cell_->value_; }
        T* operator->() const { return &cell_->value_; }

      private:
        BorrowCell* cell_;
    };

    // None while the value is exclusively borrowed.
    std::optional<Shared> try_borrow() {
        if (borrows_ == exclusive)
            return std::nullopt;
        return std::optional<Shared>(std::in_place, *this);
    }
    // None while the value is borrowed in any way.
    std::optional<Exclusive> try_borrow_mut() {
        if (borrows_ != 0)
            return std::nullopt;
        return std::optional<Exclusive>(std::in_place, *this);
    }

  private:
    static constexpr long exclusive = -1;
    T value_;
    long borrows_ = 0; // 0 free, > 0 shared borrows, exclusive
};

} // namespace quillfen
