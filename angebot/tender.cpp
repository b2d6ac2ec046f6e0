// SPDX-License-Identifier: MIT
#include "angebot/tender.h"

namespace angebot {

bill::Bill tender_bill(bill::Bill read) {
    if (read.header.format == bill::Format::Xml) return read;
    bill::Bill bill;
    bill.header = read.header;
    bill.faults = std::move(read.faults);
    bill.declared_total = read.declared_total;
    bill.complete = read.complete;
    bill.closing_record = read.closing_record;
    bill::Builder builder(bill);
    for (bill::Item& item : read.items()) builder.place_item(std::move(item));
    return bill;
}

}  // namespace angebot
