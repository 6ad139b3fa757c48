"""The failures a Python test collects before it reports them all:

    expect(condition, message)   # records message when condition is false
    sys.exit(report())            # prints each one; 1 when there was one"""
failures = []


def expect(condition, message):
    if not condition:
        failures.append(message)
    return condition


def report():
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0
