# Build, test and demo targets. All of them install what they need first
# (Debian 12, as root); see README.md.

SHELL        := /bin/bash
BUILD_DIR    := build
NATIVE_DIR   := $(BUILD_DIR)/native
HOST_DIR     := $(BUILD_DIR)/host
X64_DIR      := $(BUILD_DIR)/x64
TOOLCHAIN    := cmake/toolchain-mingw-i686.cmake
TOOLCHAIN64  := cmake/toolchain-mingw-x86_64.cmake
PYTHON       := /usr/bin/python3
JOBS         := -j2
FUZZ_DIR     := $(BUILD_DIR)/fuzz
# Seconds per fuzz target: make fuzz (FUZZ_SECONDS) and the regression run of
# make test (FUZZ_TEST_SECONDS, after every seed has run once).
FUZZ_SECONDS      ?= 60
FUZZ_TEST_SECONDS ?= 4

.DEFAULT_GOAL := build
# Some virtual machines execute 64-bit user code only: Wine's i386 loader, and
# with it every 32-bit Windows program, cannot run there. On such a machine a
# 64-bit build of the same sources (build/x64) is what runs under Wine.
# PREREQ_NO_X86=1 makes a machine that can run 32-bit code take that path too
# (scripts/runs-x86.sh).
NO_X86       := ! scripts/runs-x86.sh --wine

# What make demo runs: the program and the tool that reads its exit code.
DEMO_TARGETS := prereq runwait
SHIPPED_TARGETS := prereq prereq_testhooks prereq-lint prereq-plan

.PHONY: build build-for-test host-lint build-x64 configure configure-x64 x64-if-needed x64-for-test test demo bench screenshots deps \
        unit native e2e stop-wine clean fuzz fuzz-build fuzz-regress docs mutate

deps:
	scripts/install-deps.sh

# Cross build: build/prereq.exe, the setup authors' tools prereq-lint.exe and
# prereq-plan.exe, the test tools in build/tools, the unit tests; and the
# Linux command build/host/prereq-lint.
build:
	scripts/install-deps.sh --build
	$(MAKE) --no-print-directory configure
	cmake --build $(BUILD_DIR) $(JOBS)
	$(MAKE) --no-print-directory host-lint

host-lint:
	@[ -f $(HOST_DIR)/CMakeCache.txt ] || \
	  cmake -S . -B $(HOST_DIR) -DCMAKE_BUILD_TYPE=Release -DPREREQ_SANITIZE=OFF -DPREREQ_TOOLS_ONLY=ON
	cmake --build $(HOST_DIR) $(JOBS) --target prereq-lint

# make test's 32-bit build: all of it where 32-bit code runs. Where it cannot,
# only the programs (SHIPPED_TARGETS): the 32-bit unit tests and test programs
# could not run there, and the 64-bit build compiles the same test sources.
build-for-test:
	@if $(NO_X86); then \
	  echo "== this machine cannot execute 32-bit x86 code: the 32-bit programs only"; \
	  scripts/install-deps.sh --build && \
	  $(MAKE) --no-print-directory configure && \
	  cmake --build $(BUILD_DIR) $(JOBS) --target $(SHIPPED_TARGETS) && \
	  $(MAKE) --no-print-directory host-lint; \
	else \
	  $(MAKE) --no-print-directory build; \
	fi

configure:
	@if [ ! -f $(BUILD_DIR)/CMakeCache.txt ] || \
	    { [ ! -f $(BUILD_DIR)/Makefile ] && [ ! -f $(BUILD_DIR)/build.ninja ]; }; then \
	  echo "cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN)"; \
	  cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN); \
	fi

# The guide's tables that the program holds itself, written again from the
# code (make test checks that they match).
docs: build
	$(PYTHON) scripts/doc-tables.py --lint $(HOST_DIR)/prereq-lint

build-x64:
	$(MAKE) --no-print-directory configure-x64
	cmake --build $(X64_DIR) $(JOBS)

configure-x64:
	@if [ ! -f $(X64_DIR)/CMakeCache.txt ] || \
	    { [ ! -f $(X64_DIR)/Makefile ] && [ ! -f $(X64_DIR)/build.ninja ]; }; then \
	  echo "cmake -S . -B $(X64_DIR) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN64)"; \
	  cmake -S . -B $(X64_DIR) -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN64); \
	fi

x64-if-needed:
	@if $(NO_X86); then \
	  echo "== this machine cannot execute 32-bit x86 code: 64-bit test build in $(X64_DIR)"; \
	  $(MAKE) --no-print-directory build-x64; \
	fi

# What make test needs of the 64-bit build: everything where it is the build
# that runs under Wine, its unit tests alone where the 32-bit one runs.
x64-for-test:
	@if $(NO_X86); then \
	  $(MAKE) --no-print-directory build-x64; \
	else \
	  $(MAKE) --no-print-directory configure-x64 && \
	  cmake --build $(X64_DIR) $(JOBS) --target prereq_unit_tests; \
	fi

# Unit tests under Wine (32- and 64-bit prefixes), the native build of the
# pure code under ASan/UBSan, the fuzz targets over their seeds, and the
# end-to-end tests. Every part runs; the target fails when any of them failed.
# The 64-bit build (build/x64) is built and its unit tests run on every
# machine, so that a green run here also speaks for machines without 32-bit
# execution. Each part's time is printed at the end.
test:
	@scripts/timed.sh start
	@scripts/timed.sh deps scripts/install-deps.sh
	@scripts/timed.sh build $(MAKE) --no-print-directory build-for-test
	@scripts/timed.sh build-x64 $(MAKE) --no-print-directory x64-for-test
	@status=0; \
	scripts/timed.sh unit   $(MAKE) --no-print-directory unit   || status=1; \
	scripts/timed.sh native $(MAKE) --no-print-directory native || status=1; \
	scripts/timed.sh fuzz-regress $(MAKE) --no-print-directory fuzz-regress || status=1; \
	scripts/timed.sh e2e    $(MAKE) --no-print-directory e2e    || status=1; \
	$(MAKE) --no-print-directory stop-wine; \
	scripts/timed.sh report; \
	if [ $$status -ne 0 ]; then echo "make test: FAILED"; else echo "make test: all parts passed"; fi; \
	exit $$status

unit:
	@echo "== unit tests under Wine"
	xvfb-run -a ctest --test-dir $(BUILD_DIR) --output-on-failure
	@if [ -f $(X64_DIR)/CTestTestfile.cmake ]; then \
	  echo "== unit tests of the 64-bit build"; \
	  xvfb-run -a ctest --test-dir $(X64_DIR) --output-on-failure; \
	fi

native:
	@echo "== native build of the pure code (ASan/UBSan), prereq-lint's golden tests, the guide's tables"
	cmake -S . -B $(NATIVE_DIR) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(NATIVE_DIR) $(JOBS)
	ctest --test-dir $(NATIVE_DIR) --output-on-failure

# libFuzzer targets (fuzz/, built natively with clang, ASan and UBSan). The
# target list is fuzz/CMakeLists.txt; FUZZ_TARGETS="a b" runs only those.
fuzz-build:
	scripts/install-deps.sh --fuzz
	@if [ ! -f $(FUZZ_DIR)/CMakeCache.txt ]; then \
	  echo "cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++"; \
	  cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=; \
	fi
	cmake --build $(FUZZ_DIR) $(JOBS)

fuzz: fuzz-build
	scripts/fuzz.sh run $(FUZZ_SECONDS)

fuzz-regress: fuzz-build
	@echo "== fuzz targets over their seed corpora"
	scripts/fuzz.sh regress $(FUZZ_TEST_SECONDS)

# Mutation testing of the natively built code (scripts/mutate.py): small
# faults put into the sources one at a time, each against the native tests.
# Not part of make test. MUTATE_SEED, MUTATE_COUNT, MUTATE_FILES, MUTATE_KINDS,
# MUTATE_JOBS, MUTATE_TIMEOUT and MUTATE_MIN choose the sample and the limits.
mutate:
	scripts/install-deps.sh --build
	$(PYTHON) scripts/mutate.py

e2e:
	@echo "== end-to-end tests under Wine"
	@status=0; \
	xvfb-run -a $(PYTHON) -m pytest tests/e2e -q </dev/null || status=$$?; \
	$(MAKE) --no-print-directory stop-wine; \
	exit $$status

# Ends the wineserver (and every Windows process) of each prefix under build/wine.
stop-wine:
	@for d in $(BUILD_DIR)/wine/*/ $(X64_DIR)/wine/*/; do \
	  [ -f "$$d/system.reg" ] && scripts/wine-prefix.sh stop "$$d"; \
	done; true

# Only what the demo runs is installed and built (no unit tests, no test tools).
demo:
	scripts/install-deps.sh --demo
	$(MAKE) --no-print-directory configure
	cmake --build $(BUILD_DIR) $(JOBS) --target $(DEMO_TARGETS)
	@if $(NO_X86); then \
	  echo "== this machine cannot execute 32-bit x86 code: 64-bit build in $(X64_DIR)"; \
	  $(MAKE) --no-print-directory configure-x64 && \
	  cmake --build $(X64_DIR) $(JOBS) --target $(DEMO_TARGETS); \
	fi
	scripts/demo.sh

# Pictures of the windows (status window, progress window during a download,
# while installing and after an error, the message boxes) in build/screenshots.
screenshots:
	scripts/install-deps.sh
	$(MAKE) --no-print-directory build
	$(MAKE) --no-print-directory x64-if-needed
	xvfb-run -a -s "-screen 0 1280x1024x24" $(PYTHON) scripts/screenshots.py </dev/null

bench:
	scripts/install-deps.sh
	$(MAKE) --no-print-directory build
	$(MAKE) --no-print-directory x64-if-needed
	bench/run.sh

clean: stop-wine
	rm -rf $(BUILD_DIR)
