#include "evaluation/EvaluationReport.h"

namespace pemra {

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Pass: return "PASS";
    case Verdict::Fail: return "FAIL";
    case Verdict::None: break;
  }
  return "";
}

const char* StageText(EvaluationStage stage) {
  switch (stage) {
    case EvaluationStage::Identify: return "identify";
    case EvaluationStage::SelfTest: return "self-test";
    case EvaluationStage::Log: return "still log";
    case EvaluationStage::Analysis: return "analysis";
    case EvaluationStage::Limits: return "limits";
    case EvaluationStage::Report: return "report";
  }
  return "";
}

Verdict EvaluationReport::Overall() const {
  bool checked = false;
  if (selfTestRun && !selfTestPassed) return Verdict::Fail;
  for (const AxisReport& axis : axes)
    for (const FigureRecord& figure : axis.figures) {
      if (figure.verdict == Verdict::Fail) return Verdict::Fail;
      checked = checked || figure.verdict == Verdict::Pass;
    }
  return checked ? Verdict::Pass : Verdict::None;
}

}  // namespace pemra
