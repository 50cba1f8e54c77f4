# Thin wrapper over the CMake presets. The first step of every target
# installs the Debian packages the build needs when they are missing.
JOBS ?= 2

.PHONY: all build test golden demo windows wine-test asan fuzz bench mutants clean deps deps-windows

all: build

deps:
	@tools/install-deps.sh linux

deps-windows:
	@tools/install-deps.sh windows

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default -j $(JOBS)

# Writes the reviewed transcripts of every run the scenario and setup-harness
# tests make afresh (after a change that is meant to alter what setup does);
# 'git diff tests/*/golden' is then what to review before committing.
golden: build
	rm -rf tests/scenario/golden tests/setup/golden
	UPDATE_GOLDEN=1 ctest --preset default -j $(JOBS) -L '^(scenario|install|setup|pages|sysutil|printsys|toolkit)$$'

# setup killed at 1000 random points of installation runs; after each kill
# the image must load as the image before or after the run, with nothing
# left beside it (a short version of 50 kills runs in 'make test').
STRESS_KILLS ?= 1000
stress: build
	WINSIM_STRESS_KILLS=$(STRESS_KILLS) build/bin/test_winsim --gtest_filter='Stress.*'

demo: build
	@tools/demo.sh

windows: deps-windows
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

# The Windows build under Wine (installs wine, wine32 and xvfb when missing).
wine-test: windows
	@tools/wine-test.sh

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# libFuzzer targets of the input readers under ASan and UBSan (clang),
# each run for FUZZ_SECONDS (default 60): make fuzz FUZZ_SECONDS=600
FUZZ_SECONDS ?= 60
fuzz:
	@tools/install-deps.sh fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) tools/fuzz.sh

bench: build
	@for b in build/bin/bench_*; do echo "== $$b"; $$b; done

# Plants N random single-line faults in TREE (src, kit or winsim) and reports
# how many the tests catch: make mutants TREE=src N=200. EXCLUDE=<regex>
# leaves the matching tests out: what the rate would be without them.
TREE ?= src
N ?= 20
SEED ?= 1
mutants: deps
	tools/mutants.py --tree $(TREE) -n $(N) --seed $(SEED) --jobs $(JOBS) $(if $(ONLY),--only $(ONLY)) $(if $(FILES),--files $(FILES)) $(if $(EXCLUDE),--exclude '$(EXCLUDE)')

clean:
	rm -rf build build-asan build-windows build-mutants build-fuzz
