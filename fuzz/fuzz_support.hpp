// What the fuzz targets share: the work of one input runs on a large stack, as the programs
// run it, and a clean fatal error is an expected outcome of a bad input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fatal.hpp"
#include "parsing/large_stack.hpp"

namespace vxfuzz {

inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Runs work the way vorlax's main does: on a thread with a large stack, a Fatal being the
// end of the run. Anything else escapes and is a finding.
template <class F>
void asVorlax(F&& work) {
  try {
    vorlax::parsing::runWithLargeStack([&] { work(); });
  } catch (const vorlax::Fatal&) {
  }
}

// A small domain for the targets whose input is not a domain: two structures, Bool, Int and
// Double fields and parameters, functions, and a procedure without parameters.
inline constexpr std::string_view kShopDomain = R"(type Item {
  price : Double
  stock : Int
  listed : Bool
}

type Till {
  takings : Double
  sales : Int
}

remaining (i : Item) : Int
  ensure
    one_less: Result = i.stock - 1

after_sale (t : Till, p : Double) : Double
  ensure
    added: Result = t.takings + p

restock (i : Item, n : Int)
  require
    some: n > 0
  ensure
    more: i.stock = old(i.stock) + n

list_item (i : Item, on_sale : Bool, p : Double)
  require
    dearer: on_sale implies p > i.price
  ensure
    listed: i.listed = on_sale
    priced: i.price = p

sell (i : Item, t : Till)
  require
    available: i.listed and i.stock > 0
  ensure
    fewer: i.stock = old(remaining(i))
    paid: t.takings = old(after_sale(t, i.price))
    counted: t.sales = old(t.sales) + 1

close_day ()
  ensure
    nothing: True
)";

inline constexpr std::string_view kShopGoal = R"(i : Item
t : Till
i.stock = 0
not i.listed
t.sales = 0
@ 4
-> i.listed and i.stock = 2
)";

}  // namespace vxfuzz
