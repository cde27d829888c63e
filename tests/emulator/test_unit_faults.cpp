// Fault injection: every kind acts on the answer it names, as often as configured.
#include <gtest/gtest.h>

#include "emulator/efis_unit.h"
#include "unit_test_support.h"

using namespace emu_test;

namespace {

class UnitFaults : public testing::TestWithParam<GenCase> {
protected:
    void SetUp() override { unit.set_generation(GetParam().gen); }

    std::vector<Expected> set_vne(uint8_t v) {
        return frames_of(unit.handle(frame(GetParam().set_setting, 5, cat({6}, le32(v)))));
    }
    std::vector<Expected> erase_block(uint16_t b) {
        return frames_of(unit.handle(frame(
            GetParam().erase, 3, {0xBE, static_cast<uint8_t>(b), static_cast<uint8_t>(b >> 8)})));
    }
    std::vector<Expected> write64() {
        return frames_of(unit.handle(frame(GetParam().write, 15, std::vector<uint8_t>(64, 0x5A))));
    }

    emu::Fault fault(emu::AnswerKind kind) {
        emu::Fault f;
        f.answer = kind;
        return f;
    }

    emu::EfisUnit unit;
};

TEST_P(UnitFaults, NoAnswerSilencesTheAnswer) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::CommandAck);
    f.no_answer = true;
    unit.set_fault(g.set_setting, f);
    EXPECT_TRUE(set_vne(99).empty());
    EXPECT_EQ(unit.settings().vspeeds.Vne, 99);  // done, just not confirmed
}

TEST_P(UnitFaults, RefuseDeclinesTheCommand) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::CommandAck);
    f.refuse = true;
    unit.set_fault(g.set_setting, f);
    EXPECT_EQ(set_vne(99), (std::vector<Expected>{command_ack(g, g.set_setting, false)}));
    EXPECT_EQ(unit.settings().vspeeds.Vne, 150);
}

TEST_P(UnitFaults, AckNamingAnotherCommand) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::CommandAck);
    f.ack_other_command = true;
    unit.set_fault(g.set_setting, f);
    EXPECT_EQ(set_vne(99), (std::vector<Expected>{command_ack(g, g.save_settings, true)}));
    unit.set_fault(g.airport, f);
    EXPECT_EQ(frames_of(unit.handle(frame(g.airport, 1, {0xDC}))),
              (std::vector<Expected>{command_ack(g, g.set_setting, true)}));
}

TEST_P(UnitFaults, WrongLengthShortensTheAnswer) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::CommandAck);
    f.wrong_length = true;
    unit.set_fault(g.set_setting, f);
    Expected ack = command_ack(g, g.set_setting, true);
    ack.len = static_cast<uint8_t>(ack.len - 1);
    ack.payload.pop_back();
    EXPECT_EQ(set_vne(99), (std::vector<Expected>{ack}));

    emu::Fault ff = fault(emu::AnswerKind::FlashAck);
    ff.wrong_length = true;
    unit.set_fault(g.set_addr, ff);
    Expected fa = flash_ack(g, 0xA1, 0x1000, true);
    fa.len = static_cast<uint8_t>(fa.len - 1);
    fa.payload.pop_back();
    EXPECT_EQ(frames_of(unit.handle(frame(g.set_addr, 4, le32(0x1000)))),
              (std::vector<Expected>{fa}));
}

TEST_P(UnitFaults, WrongStatusByte) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::CommandAck);
    f.wrong_status = true;
    unit.set_fault(g.set_setting, f);
    Expected ack = command_ack(g, g.set_setting, true);
    // Current: status byte 2; legacy (no status byte): the marker is spoilt.
    ack.payload.back() = 2;
    EXPECT_EQ(set_vne(99), (std::vector<Expected>{ack}));

    emu::Fault ff = fault(emu::AnswerKind::FlashAck);
    ff.wrong_status = true;
    unit.set_fault(g.set_addr, ff);
    Expected fa = flash_ack(g, 0xA1, 0x1000, true);
    if (g.gen == emu::Generation::Current) {
        fa.payload[5] = 2;
    }
    EXPECT_EQ(frames_of(unit.handle(frame(g.set_addr, 4, le32(0x1000)))),
              (std::vector<Expected>{fa}));
}

TEST_P(UnitFaults, WrongOpCodeAndAddressInFlashAck) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::FlashAck);
    f.wrong_op_code = true;
    unit.set_fault(g.erase, f);
    EXPECT_EQ(erase_block(897), (std::vector<Expected>{command_ack(g, g.erase, true),
                                                       flash_ack(g, 0xDD, 0x03810000, true)}));
    f.wrong_op_code = false;
    f.wrong_address = true;
    unit.set_fault(g.erase, f);  // replaces the earlier one
    EXPECT_EQ(erase_block(897), (std::vector<Expected>{command_ack(g, g.erase, true),
                                                       flash_ack(g, 0xBE, 0x03811000, true)}));
}

TEST_P(UnitFaults, DelayAppliesToTheNamedAnswerOnly) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::FlashAck);
    f.delay_ms = 250;
    unit.set_fault(g.erase, f);
    const auto answers = unit.handle(frame(g.erase, 3, {0xBE, 1, 0}));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].delay_ms, 0u);
    EXPECT_EQ(answers[1].delay_ms, 250u);
    EXPECT_EQ(frames_of(answers), (std::vector<Expected>{command_ack(g, g.erase, true),
                                                         flash_ack(g, 0xBE, 0x10000, true)}));
}

TEST_P(UnitFaults, UnrelatedFramesBeforeTheAnswer) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::CommandAck);
    f.unrelated_before = 3;
    unit.set_fault(g.set_setting, f);
    const auto got = set_vne(99);
    ASSERT_EQ(got.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].id, g.sensor_data);
        EXPECT_EQ(got[i].len, 8);
    }
    EXPECT_EQ(got[3], command_ack(g, g.set_setting, true));
}

TEST_P(UnitFaults, RepeatSendsTheNamedAnswerAgain) {
    const GenCase& g = GetParam();
    struct Case {
        const char* name;
        uint32_t request;
        emu::AnswerKind kind;
        uint32_t repeat;
        COMMS_MSG_t in;
        std::vector<Expected> answer;
        uint32_t faulted_id;  // the answers the fault's delay applies to
    };
    const Expected erase_ack = command_ack(g, g.erase, true);
    const Expected erased = flash_ack(g, 0xBE, 0x20000, true);
    const Case cases[] = {
        {"Reply",
         g.req_setting,
         emu::AnswerKind::Reply,
         1,
         frame(g.req_setting, 1, {6}),
         {value_reply(g.send_setting, 150), value_reply(g.send_setting, 150)},
         g.send_setting},
        {"None",
         g.req_setting,
         emu::AnswerKind::Reply,
         0,
         frame(g.req_setting, 1, {6}),
         {value_reply(g.send_setting, 150)},
         g.send_setting},
        {"CommandAck",
         g.set_setting,
         emu::AnswerKind::CommandAck,
         1,
         frame(g.set_setting, 5, cat({6}, le32(99))),
         {command_ack(g, g.set_setting, true), command_ack(g, g.set_setting, true)},
         g.ack},
        {"FlashAckOfErase",
         g.erase,
         emu::AnswerKind::FlashAck,
         2,
         frame(g.erase, 3, {0xBE, 2, 0}),
         {erase_ack, erased, erased, erased},
         g.mx25_ack},
        {"CommandAckOfErase",
         g.erase,
         emu::AnswerKind::CommandAck,
         1,
         frame(g.erase, 3, {0xBE, 2, 0}),
         {erase_ack, erase_ack, erased},
         g.ack},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unit.clear_faults();
        emu::Fault f = fault(c.kind);
        f.repeat = c.repeat;
        f.delay_ms = 40;
        unit.set_fault(c.request, f);
        const auto answers = unit.handle(c.in);
        EXPECT_EQ(frames_of(answers), c.answer);
        for (const emu::Answer& a : answers) {
            EXPECT_EQ(a.delay_ms, a.frame.can_ID == c.faulted_id ? 40u : 0u);
        }
    }
}

TEST_P(UnitFaults, SkipFirstAndTimes) {
    const GenCase& g = GetParam();
    unit.set_refuse_unerased_writes(false);
    emu::Fault f = fault(emu::AnswerKind::FlashAck);
    f.refuse = true;
    f.skip_first = 4;
    f.times = 1;
    unit.set_fault(g.write, f);
    std::vector<bool> ok;
    for (int i = 0; i < 7; ++i) {
        const auto a = write64();
        ASSERT_EQ(a.size(), 1u);
        ok.push_back(a[0] == flash_ack(g, 0xAA, a[0].payload[1] | a[0].payload[2] << 8, true));
    }
    EXPECT_EQ(ok, (std::vector<bool>{true, true, true, true, false, true, true}));
    EXPECT_EQ(unit.write_address(), 6u * 64u);  // the refused packet was not written

    f.times = -1;
    f.skip_first = 1;
    unit.set_fault(g.write, f);
    EXPECT_EQ(write64()[0].id, g.gen == emu::Generation::Current ? 0x0F0u : 0x256u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(write64()[0], flash_ack(g, 0xAA, 7 * 64, false));
    }
    unit.clear_faults();
    EXPECT_EQ(write64()[0], flash_ack(g, 0xAA, 7 * 64, true));
}

TEST_P(UnitFaults, FaultsOnBothAnswersOfOneRequest) {
    const GenCase& g = GetParam();
    emu::Fault c = fault(emu::AnswerKind::CommandAck);
    c.unrelated_before = 1;
    emu::Fault fl = fault(emu::AnswerKind::FlashAck);
    fl.refuse = true;
    unit.set_fault(g.erase, c);
    unit.set_fault(g.erase, fl);
    unit.flash_fill(0x10000, {0});
    const auto got = erase_block(1);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].id, g.sensor_data);
    EXPECT_EQ(got[1], command_ack(g, g.erase, true));
    EXPECT_EQ(got[2], flash_ack(g, 0xBE, 0x10000, false));
    EXPECT_EQ(unit.flash_read(0x10000, 1), std::vector<uint8_t>{0});
    EXPECT_TRUE(unit.erased_blocks().empty());
}

TEST_P(UnitFaults, RefusedCommandAckOfEraseSendsNoFlashAck) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::CommandAck);
    f.refuse = true;
    unit.set_fault(g.erase, f);
    EXPECT_EQ(erase_block(2), (std::vector<Expected>{command_ack(g, g.erase, false)}));
    EXPECT_TRUE(unit.erased_blocks().empty());
}

TEST_P(UnitFaults, StoreFaults) {
    const GenCase& g = GetParam();
    const uint32_t crc = unit.settings().crc32;
    emu::Fault f = fault(emu::AnswerKind::FlashAck);
    f.refuse = true;
    unit.set_fault(g.save_settings, f);
    EXPECT_EQ(frames_of(unit.handle(frame(g.save_settings, 4, le32(crc)))),
              (std::vector<Expected>{flash_ack(g, 0xAE, 0x080E0000, false)}));
    unit.clear_faults();
    emu::Fault c = fault(emu::AnswerKind::CommandAck);
    c.refuse = true;
    unit.set_fault(g.save_settings, c);
    EXPECT_EQ(frames_of(unit.handle(frame(g.save_settings, 4, le32(crc)))),
              (std::vector<Expected>{flash_ack(g, 0xAE, 0x080E0000, true),
                                     command_ack(g, g.save_settings, false)}));
    EXPECT_EQ(unit.store_count(), 0u);
}

TEST_P(UnitFaults, ReplyFaults) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::Reply);
    f.no_answer = true;
    unit.set_fault(g.req_setting, f);
    EXPECT_TRUE(unit.handle(frame(g.req_setting, 1, {6})).empty());
    f.no_answer = false;
    f.refuse = true;
    unit.set_fault(g.req_setting, f);
    EXPECT_TRUE(unit.handle(frame(g.req_setting, 1, {6})).empty());
    f.refuse = false;
    f.wrong_length = true;
    unit.set_fault(g.req_setting, f);
    EXPECT_EQ(frames_of(unit.handle(frame(g.req_setting, 1, {6}))),
              (std::vector<Expected>{{g.send_setting, 3, {150, 0, 0}}}));
    unit.set_fault(g.whoami, f);
    const auto who = frames_of(unit.handle(frame(g.whoami, 2, {0xEF, 0x15})));
    ASSERT_EQ(who.size(), 1u);
    EXPECT_EQ(who[0].len, 7);
}

TEST_P(UnitFaults, WrongIdentifierCarriesTheAnswerOnAnotherAnswers) {
    const GenCase& g = GetParam();
    emu::Fault r = fault(emu::AnswerKind::Reply);
    r.wrong_id = true;
    unit.set_fault(g.req_setting, r);
    unit.set_fault(g.req_calib, r);
    EXPECT_EQ(frames_of(unit.handle(frame(g.req_setting, 1, {6}))),
              (std::vector<Expected>{value_reply(g.send_calib, 150)}));
    const auto calib = frames_of(unit.handle(frame(g.req_calib, 1, {0})));
    ASSERT_EQ(calib.size(), 1u);
    EXPECT_EQ(calib[0].id, g.send_setting);
    unit.set_fault(0x010, r);
    unit.set_answers_current_whoami(true);
    const auto who = frames_of(unit.handle(frame(0x010, 2, {0xEF, 0x15})));
    ASSERT_EQ(who.size(), 1u);
    EXPECT_EQ(who[0].id, 0x123u);

    // Acknowledgements trade identifiers, payload unchanged: a refusal too.
    emu::Fault c = fault(emu::AnswerKind::CommandAck);
    c.wrong_id = true;
    emu::Fault fl = fault(emu::AnswerKind::FlashAck);
    fl.wrong_id = true;
    fl.refuse = true;
    unit.set_fault(g.erase, c);
    unit.set_fault(g.erase, fl);
    Expected acked = command_ack(g, g.erase, true);
    acked.id = g.mx25_ack;
    Expected refused = flash_ack(g, 0xBE, 0x30000, false);
    refused.id = g.gen == emu::Generation::Current ? g.ack : g.nack;
    EXPECT_EQ(erase_block(3), (std::vector<Expected>{acked, refused}));
}

TEST_P(UnitFaults, FaultOnAnotherKindLeavesTheAnswerAlone) {
    const GenCase& g = GetParam();
    emu::Fault f = fault(emu::AnswerKind::FlashAck);
    f.no_answer = true;
    unit.set_fault(g.set_setting, f);
    EXPECT_EQ(set_vne(99), (std::vector<Expected>{command_ack(g, g.set_setting, true)}));
}

INSTANTIATE_TEST_SUITE_P(Generations, UnitFaults, testing::Values(kCurrent, kLegacy), gen_name);

}  // namespace
