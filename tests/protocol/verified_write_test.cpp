// A write proven on the device: the read-back, the comparison and the repairs, per model, over
// the simulated device with the faults that open a hole behind the acknowledgements.
#include "protocol/verified_write.h"

#include <gtest/gtest.h>

#include "engine_bench.h"

namespace lovar {
namespace {

using testing_support::Bytes;
using testing_support::Config;
using testing_support::EngineBench;
using O = WriteReport::Outcome;
using C = WriteReport::Cause;
using S = WriteStage;

ConfigImage Edited(int model) {
  ConfigImage image = SampleImage(model);
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(image[i] ^ 0x5A);
  return image;
}

// The device holds the bytes sent, in the range written (bytes 127 to 130 as 0 on 250, 252).
void ExpectDeviceHolds(const EngineBench& b, const ConfigImage& image, int model) {
  const int from = Exchange::WriteStart(model);
  for (int at = from; at < ImageLength(model); ++at) {
    const bool zeroed = model != 251 && at >= 127 && at <= 130;
    ASSERT_EQ(b.sim.image()[at], zeroed ? 0 : image[at]) << at;
  }
}

struct ModelCase {
  int model;
  int readback_requests;
  int first_read_offset;
};

class EachModel : public testing::TestWithParam<ModelCase> {};

TEST_P(EachModel, WriteIsReadBackIntoItsOwnBufferAndProven) {
  const int model = GetParam().model;
  EngineBench b(Config(model));
  b.Identify();
  const ConfigImage edited = Edited(model);
  b.image = edited;
  b.LoseWrittenRequests();
  b.verified.Start();
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::Verified);
  EXPECT_EQ(b.view.reports[0].repaired_blocks, 0);
  // Model 252's bytes 0 to 99, never written, are read first and held to that.
  EXPECT_EQ(b.view.stages, model == 252 ? (std::vector<S>{S::ReadingPrior, S::Writing, S::Checking})
                                        : (std::vector<S>{S::Writing, S::Checking}));
  std::vector<Bytes> reads;
  for (const Bytes& w : b.port.writes)
    if (w[6] == 0xC8) reads.push_back(w);
  ASSERT_EQ(reads.size(), static_cast<size_t>(GetParam().readback_requests));
  EXPECT_EQ(reads[0][7], GetParam().first_read_offset);
  ExpectDeviceHolds(b, edited, model);
  // The window's image is still the one edited; only 127 to 130 were zeroed for the write.
  for (int i = 0; i < kImageCapacity; ++i) {
    const bool zeroed = model != 251 && i >= 127 && i <= 130;
    ASSERT_EQ(b.image[i], zeroed ? 0 : edited[i]) << i;
  }
  EXPECT_EQ(b.view.writes_ended, 0);
  EXPECT_EQ(b.view.reads_ended, 0);
  EXPECT_TRUE(b.view.buttons);
}

// A duplicated acknowledgement is taken for the next block, which was lost on its way: the
// write ends with a hole that only the read-back shows, here in the last block of the model.
TEST_P(EachModel, HoleBehindADuplicatedAcknowledgementIsRepaired) {
  const int model = GetParam().model;
  const int blocks = (ImageLength(model) - Exchange::WriteStart(model) + 15) / 16;
  // 1 the identification, 2 the 212 (and for model 252 the 13 reads of bytes 0 to 99).
  const int last_request = 2 + (model == 252 ? 13 : 0) + blocks;
  SimConfig config = Config(model);
  config.faults = {{FaultKind::Duplicate, last_request - 1}, {FaultKind::Lost, last_request}};
  EngineBench b(config);
  b.Identify();
  const ConfigImage edited = Edited(model);
  b.image = edited;
  b.verified.Start();
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::Verified);
  EXPECT_EQ(b.view.reports[0].repaired_blocks, 1);
  std::vector<S> stages{S::Writing, S::Checking, S::Repairing, S::Checking};
  if (model == 252) stages.insert(stages.begin(), S::ReadingPrior);
  EXPECT_EQ(b.view.stages, stages);
  EXPECT_EQ(WriteReportText(b.view.reports[0]),
            "Конфигурация записана в УО (блоков записано повторно: 1)");
  ExpectDeviceHolds(b, edited, model);
  EXPECT_EQ(b.view.asks, 0);
}

INSTANTIATE_TEST_SUITE_P(Models, EachModel,
                         testing::Values(ModelCase{250, 32, 0}, ModelCase{251, 512, 0},
                                         ModelCase{252, 13 + 32, 0}),
                         [](const auto& info) {
                           return "Model" + std::to_string(info.param.model);
                         });

TEST(VerifiedWrite, DeviceThatKeepsRefusingABlockIsReportedAfterTwoRepairRounds) {
  SimConfig config = Config(250);
  config.faults = {{FaultKind::Unstored, 3, 1}};  // no write is stored, every one acknowledged
  const ConfigImage device = SampleImage(250);
  EngineBench b(config, device);
  b.Identify();
  b.image = device;
  b.image[40] ^= 0xFF;
  b.image[41] ^= 0xFF;
  b.image[200] ^= 0x01;
  b.verified.Start();
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  const WriteReport& r = b.view.reports[0];
  EXPECT_EQ(r.outcome, O::Differs);
  EXPECT_EQ(r.first_difference, 40);
  EXPECT_EQ(r.differing_bytes, 3 + 4);  // and 127 to 130, sent as 0
  EXPECT_EQ(r.repaired_blocks, 2 * 4);  // blocks 32, 112, 128 and 192, in each of two rounds
  EXPECT_EQ(b.view.stages, (std::vector<S>{S::Writing, S::Checking, S::Repairing, S::Checking,
                                           S::Repairing, S::Checking}));
  EXPECT_EQ(WriteReportText(r),
            "Запись не подтверждена: прибор хранит не то, что записано, начиная со смещения 40 — "
            "поле «Строка 9: Код» на странице «Коды»; различаются байт: 7. Прибор может содержать "
            "смесь старой и новой конфигурации.");
  EXPECT_TRUE(b.view.buttons);
}

TEST(VerifiedWrite, GivingUpAtTheQuestionSaysWhereTheWriteOrTheCheckStood) {
  struct Row {
    const char* name;
    int lost_request;
    O outcome;
    int stopped_at;
  };
  // Requests: 3 to 18 the write of model 250, 19 onward the read-back.
  const std::vector<Row> rows = {{"write", 6, O::WriteStopped, 48},
                                 {"check", 25, O::CheckStopped, 48}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimConfig config = Config(250);
    config.faults = {{FaultKind::Lost, row.lost_request}};
    EngineBench b(config);
    b.Identify();
    b.verified.Start();
    b.Pump();
    b.Tick(11);  // the question: Cancel
    ASSERT_EQ(b.view.reports.size(), 1u);
    EXPECT_EQ(b.view.reports[0].outcome, row.outcome);
    EXPECT_EQ(b.view.reports[0].cause, C::NoAnswer);
    EXPECT_EQ(b.view.reports[0].stopped_at, row.stopped_at);
    EXPECT_TRUE(b.view.abandoned.empty());
    EXPECT_TRUE(b.view.buttons);
  }
}

// The device's own image is read into a buffer before the first block goes out; the view keeps
// it (the archive) and may refuse, and then nothing at all is written.
TEST_P(EachModel, PriorImageIsReadWholeBeforeAnythingIsWritten) {
  const int model = GetParam().model;
  EngineBench b(Config(model), SampleImage(model));
  b.Identify();
  b.image = Edited(model);
  b.verified.Start(/*check=*/true, /*read_prior=*/true);
  b.Pump();
  ASSERT_EQ(b.view.priors.size(), 1u);
  for (int i = 0; i < ImageLength(model); ++i)
    ASSERT_EQ(b.view.priors[0][i], SampleImage(model)[i]);
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::Verified);
  EXPECT_EQ(b.view.stages, (std::vector<S>{S::ReadingPrior, S::Writing, S::Checking}));
  const int prior_reads = ImageLength(model) / 8;
  for (int i = 0; i < prior_reads; ++i)
    ASSERT_EQ(b.port.writes[2 + static_cast<size_t>(i)][6], 0xC8);
  ExpectDeviceHolds(b, Edited(model), model);
  EXPECT_EQ(b.view.reads_ended, 0);  // the window's image and display were left alone
}

TEST(VerifiedWrite, RefusedPriorImageWritesNothing) {
  EngineBench b(Config(250), SampleImage(250));
  b.Identify();
  b.image = Edited(250);
  b.view.prior_answer = false;
  b.verified.Start(true, true);
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::NotStarted);
  EXPECT_EQ(b.view.reports[0].cause, C::Refused);
  EXPECT_EQ(WriteReportText(b.view.reports[0]), "Запись не начата. Прибор не изменён.");
  for (const Bytes& w : b.port.writes) ASSERT_NE(w[6], 0xCA);
  EXPECT_EQ(b.sim.image(), SampleImage(250));
  EXPECT_TRUE(b.view.buttons);
}

// Given up at the question while the device is read first: the write is said not to have begun,
// and a late reply does not begin it after all.
TEST(VerifiedWrite, PriorReadGivenUpNeverBeginsTheWriteLater) {
  SimConfig config = Config(250);
  config.faults = {{FaultKind::Lost, 7}};  // the fifth read request: offset 32
  EngineBench b(config, SampleImage(250));
  b.Identify();
  b.image = Edited(250);
  b.verified.Start(true, true);
  b.Pump();
  b.Tick(11);  // the question: Cancel
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::NotStarted);
  EXPECT_EQ(b.view.reports[0].cause, C::NoAnswer);
  EXPECT_EQ(WriteReportText(b.view.reports[0]),
            "Запись не начата: чтение прибора перед записью остановлено на смещении 32 из 256 "
            "(прибор не отвечает). Прибор не изменён.");
  std::vector<SimOutput> late;  // the request reaches the device late after all
  b.sim.Feed(b.port.writes.back(), late);
  ASSERT_FALSE(late.empty());
  for (const SimOutput& o : late) b.Deliver(o.bytes);
  b.Pump();
  EXPECT_EQ(b.view.reports.size(), 1u);
  EXPECT_TRUE(b.view.priors.empty());
  for (const Bytes& w : b.port.writes) ASSERT_NE(w[6], 0xCA);
}

TEST(VerifiedWrite, LateAcknowledgementAfterCancelCarriesTheWriteOnToItsProof) {
  EngineBench b(Config(250));
  b.Identify();
  b.image = Edited(250);
  b.verified.Start();
  b.LoseWrittenRequests();  // the first block is still on its way
  b.Tick(11);
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::WriteStopped);
  b.fed = b.port.writes.size() - 1;  // it arrives after all, and so does its acknowledgement
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 2u);
  EXPECT_EQ(b.view.reports[1].outcome, O::Verified);
  ExpectDeviceHolds(b, Edited(250), 250);
  EXPECT_EQ(b.view.writes_ended, 0);
}

TEST(VerifiedWrite, LineLostAndPageChangeAndClosedPortEndTheWriteWithTheirCause) {
  {
    EngineBench b(Config(251));
    b.Identify();
    b.Tick(1);
    b.verified.Start();
    b.port.open = false;
    b.port.error = LinkError::HungUp;
    b.Tick(1);
    ASSERT_EQ(b.view.reports.size(), 1u);
    EXPECT_EQ(b.view.reports[0].cause, C::LineLost);
    EXPECT_EQ(b.view.reports[0].stopped_at, 0);
    EXPECT_TRUE(b.view.lost.empty());
  }
  {
    EngineBench b(Config(250));
    b.Identify();
    b.verified.Start();
    b.Pump();
    b.engine.StopExchange();
    b.verified.Stop(C::PageChanged);
    ASSERT_EQ(b.view.reports.size(), 1u);
    EXPECT_EQ(b.view.reports[0].outcome, O::Verified);  // it had finished: nothing to stop
  }
  {
    EngineBench b(Config(252));
    b.Identify();
    b.port.open = false;
    b.verified.Start();
    ASSERT_EQ(b.view.reports.size(), 1u);
    EXPECT_EQ(b.view.reports[0].cause, C::PortClosed);
    EXPECT_EQ(b.view.reports[0].outcome, O::NotStarted);  // no block went out
    EXPECT_EQ(WriteReportText(b.view.reports[0]),
              "Запись не начата (порт закрыт). Прибор не изменён.");
    EXPECT_TRUE(b.port.writes.size() == 2u);  // the identification and the 212 only
  }
}

TEST(VerifiedWrite, EditMadeDuringTheWriteIsNotHalfSent) {
  EngineBench b(Config(250));
  b.Identify();
  const ConfigImage edited = Edited(250);
  b.image = edited;
  b.verified.Start();
  b.image[200] = 0x77;  // typed into a page while the write runs
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::Verified);
  EXPECT_EQ(b.sim.image()[200], edited[200]);
}

TEST(VerifiedWrite, UncheckedWriteReadsNothingBack) {
  EngineBench b(Config(250));
  b.Identify();
  b.LoseWrittenRequests();
  b.verified.Start(/*check=*/false);
  b.Pump();
  ASSERT_EQ(b.view.reports.size(), 1u);
  EXPECT_EQ(b.view.reports[0].outcome, O::Unchecked);
  for (size_t i = b.fed - 16; i < b.port.writes.size(); ++i) EXPECT_EQ(b.port.writes[i][6], 0xCA);
}

TEST(WriteReportText, SaysWhatTheDeviceHolds) {
  struct Row {
    WriteReport report;
    const char* text;
  };
  auto stopped = [](O outcome, C cause, int at, int end) {
    WriteReport r;
    r.outcome = outcome;
    r.cause = cause;
    r.stopped_at = at;
    r.end = end;
    return r;
  };
  const std::vector<Row> rows = {
      {WriteReport{}, "Конфигурация записана в УО"},
      {stopped(O::WriteStopped, C::Interrupted, 1024, 4096),
       "Запись прервана на смещении 1024 из 4096 (прервано пользователем). Прибор может "
       "содержать смесь старой и новой конфигурации."},
      {stopped(O::WriteStopped, C::LineLost, 48, 256),
       "Запись прервана на смещении 48 из 256 (связь с портом потеряна). Прибор может содержать "
       "смесь старой и новой конфигурации."},
      {stopped(O::CheckStopped, C::GaveUp, 64, 256),
       "Запись не проверена: проверка прервана на смещении 64 из 256 (прибор отвечает не на "
       "запросы). Прибор может содержать смесь старой и новой конфигурации."},
      {stopped(O::Unchecked, C::None, 0, 256),
       "Конфигурация отправлена в УО, но не проверена: прибор не считан после записи"},
  };
  for (const Row& row : rows) EXPECT_EQ(WriteReportText(row.report), row.text);
}

}  // namespace
}  // namespace lovar
