# What the end-to-end scripts under Wine share (sourced): named checks counted as they pass or fail,
# waiting for a condition, and the closing summary.
passed=0
failed=0
check() {  # NAME CONDITION...
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); echo "PASS $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}
wait_for() {  # TENTHS CONDITION...: true once the condition holds
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}
summary() {  # WHAT: prints the counts; fails when a check failed
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
