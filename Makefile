# Convenience targets; the build itself is CMake + Ninja.
BUILD      ?= build
SANBUILD   ?= build-sanitize
CMAKE_GEN  ?= -G Ninja
JOBS       ?= 2
PREFIX     ?= /usr/local

.PHONY: all deps build demo test test-sanitize bench study fuzz install clean

all: build

# The Debian packages of tools/deps: installed when missing (as root), else
# the command that installs them is printed and make stops.
deps:
	@tools/deps check

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	./$(BUILD)/bayescreen examples/reactor

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBAYESCREEN_SANITIZE=ON
	cmake --build $(SANBUILD) -j $(JOBS)
	ctest --test-dir $(SANBUILD) --output-on-failure -j $(JOBS)

# Whole-program timings on generated designs, then the micro-benchmarks of
# the fitting step when Google Benchmark is installed.
BENCH_REPS ?= 7
bench: build
	./$(BUILD)/bayescreen_bench ./$(BUILD)/bayescreen $(BENCH_REPS)
	@if [ -x ./$(BUILD)/fit_benchmark ]; then ./$(BUILD)/fit_benchmark; fi

# The simulation study of the analyses (a few minutes on 2 cores; not part
# of make test): STUDY_EXPERIMENTS experiments a cell, fixed seeds.
STUDY_EXPERIMENTS ?= 200
study: build
	./$(BUILD)/bayescreen_study $(STUDY_EXPERIMENTS)

# Coverage-guided fuzzing (AFL++, ASan + UBSan) of the design reader and the
# option engine in build-fuzz/, FUZZ_SECONDS per target; see fuzz/run-fuzz.
FUZZ_SECONDS ?= 180
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run-fuzz

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(SANBUILD)
