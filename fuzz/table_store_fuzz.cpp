// Drives the table-layout store with an arbitrary command stream: table
// descriptions, cell widths and heights, fits, geometry queries, stack pushes
// and pops, with nodes that are live, closed or foreign. The store must answer
// statuses only: no crash, leak, out-of-bounds access or endless loop.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/device/device.h"
#include "engine/device/table_store.h"

namespace {

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  bool More() const { return pos < size; }
  std::uint8_t U8() { return pos < size ? data[pos++] : 0; }
  std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | (U8() << 8)); }
  std::uint32_t U32() { return U16() | (std::uint32_t{U16()} << 16); }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  // Small values most of the time, so the interesting paths are reached.
  std::uint32_t Small(std::uint32_t limit) {
    const std::uint8_t b = U8();
    return b < 0xF0 ? b % limit : U32();
  }
};

std::uint32_t g_now = 0;
std::uint32_t Tick(void*) noexcept {
  return g_now;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const DeviceClock clock{Tick, nullptr};
  TableStore* store = nullptr;
  if (TableStore_Create(&clock, &store) != kOk) return 0;
  Reader in{data, size};
  std::vector<void*> nodes;  // handed out by the store, possibly closed since
  int foreign = 0;
  auto node = [&]() -> void* {
    const std::uint8_t pick = in.U8();
    if (pick == 0xFF) return nullptr;
    if (pick == 0xFE) return &foreign;
    return nodes.empty() ? nullptr : nodes[pick % nodes.size()];
  };
  int steps = 0;
  while (in.More() && ++steps < 4000) {
    const std::uint8_t op = in.U8();
    g_now += in.U8();
    switch (op % 24) {
      case 0: {
        TableDescription d{static_cast<std::uint16_t>(in.Small(8)),
                           static_cast<std::uint16_t>(in.Small(12)),
                           in.Small(40),
                           {},
                           in.U8(),
                           in.U8(),
                           in.U8()};
        TableNode* out = nullptr;
        if (TableStore_Command(store, TableStoreCode::BeginTable, &d, &out) == kOk)
          nodes.push_back(out);
        break;
      }
      case 1:
        (void)TableStore_Command(store, TableStoreCode::EndLayout, node(), nullptr);
        break;
      case 2:
      case 10: {
        std::uint16_t id = static_cast<std::uint16_t>(in.Small(8));
        TableNode* out = nullptr;
        const std::uint16_t code =
            op % 24 == 2 ? TableStoreCode::ReopenLayout : TableStoreCode::OpenRowPass;
        if (TableStore_Command(store, code, &id, &out) == kOk) nodes.push_back(out);
        break;
      }
      case 3:
        (void)TableStore_Command(store, TableStoreCode::CloseLayout, node(), nullptr);
        break;
      case 11:
        (void)TableStore_Command(store, TableStoreCode::CloseRowPass, node(), nullptr);
        break;
      case 4: {
        TableCellWidth w{static_cast<std::uint16_t>(in.Small(14)),
                         static_cast<std::uint16_t>(in.Small(6)), in.U8() & 1u, in.I16(), in.I16()};
        (void)TableStore_Command(store, TableStoreCode::CellWidth, node(), &w);
        break;
      }
      case 5:
        (void)TableStore_Command(store, TableStoreCode::DistributeWidths, node(), nullptr);
        break;
      case 6: {
        TableFit fit{static_cast<std::uint16_t>(in.Small(200)), in.U16(), in.I16()};
        (void)TableStore_Command(store, TableStoreCode::FitColumns, node(), &fit);
        break;
      }
      case 7: {
        TableSpanWidth q{static_cast<std::uint16_t>(in.Small(14)),
                         static_cast<std::uint16_t>(in.Small(6)), 0};
        (void)TableStore_Command(store, TableStoreCode::SpanWidth, node(), &q);
        break;
      }
      case 8: {
        TableCellHeight c{in.Small(45), static_cast<std::uint16_t>(in.Small(5)),
                          static_cast<std::uint16_t>(in.Small(6)), in.I16()};
        (void)TableStore_Command(store, TableStoreCode::CellHeight, node(), &c);
        break;
      }
      case 9:
        (void)TableStore_Command(store, TableStoreCode::DistributeHeights, node(), nullptr);
        break;
      case 12: {
        TableWidthRange r{static_cast<std::uint16_t>(in.Small(8)), 0, 0};
        (void)TableStore_Command(store, TableStoreCode::WidthRange, &r, nullptr);
        break;
      }
      case 13: {
        TableSizeQuery q{static_cast<std::uint16_t>(in.Small(8)), 0, 0};
        (void)TableStore_Command(store, TableStoreCode::TableSize, node(), &q);
        break;
      }
      case 14: {
        TableCellExtent q{in.Small(45),
                          static_cast<std::uint16_t>(in.Small(14)),
                          static_cast<std::uint16_t>(in.Small(5)),
                          static_cast<std::uint16_t>(in.Small(6)),
                          static_cast<std::uint16_t>(in.Small(6)),
                          0,
                          0,
                          0,
                          0};
        (void)TableStore_Command(store, TableStoreCode::CellExtent, node(), &q);
        break;
      }
      case 15: {
        TableRowSpan q{in.Small(45), static_cast<std::uint16_t>(in.Small(6)), 0, 0};
        (void)TableStore_Command(store, TableStoreCode::RowSpanHeight, node(), &q);
        break;
      }
      case 16: {
        TableHit q{in.I16(), in.I16(), in.Small(45), 0, 0};
        (void)TableStore_Command(store, TableStoreCode::HitTest, node(), &q);
        break;
      }
      case 17: {
        TableRowSum q{in.Small(45), in.Small(45), 0};
        (void)TableStore_Command(store, TableStoreCode::RowSum, node(), &q);
        break;
      }
      case 18: {
        std::uint8_t block[64];
        std::memset(block, in.U8(), sizeof block);
        std::uint16_t n = static_cast<std::uint16_t>(in.Small(sizeof block + 1));
        if (n > sizeof block) n = sizeof block;
        (void)TableStore_Command(store, TableStoreCode::Push, &n, block);
        break;
      }
      case 19: {
        std::uint8_t block[64];
        std::uint16_t n = static_cast<std::uint16_t>(in.Small(sizeof block + 1));
        if (n > sizeof block) n = sizeof block;
        (void)TableStore_Command(store, TableStoreCode::Pop, &n, block);
        break;
      }
      case 20:
        (void)TableStore_Command(store, TableStoreCode::StartSlice, nullptr, nullptr);
        break;
      case 21:
        (void)TableStore_Command(store, TableStoreCode::CheckSlice, nullptr, nullptr);
        break;
      case 22:
        TableStore_Clear(store);
        break;
      default:
        // Any code with no arguments: refused, never followed.
        (void)TableStore_Command(store, in.U16(), nullptr, nullptr);
        break;
    }
  }
  TableStore_Free(store);
  return 0;
}
