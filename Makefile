# Convenience targets; the build itself is CMake + Ninja.
BUILD      ?= build
SANBUILD   ?= build-sanitize
TSANBUILD  ?= build-tsan
CMAKE_GEN  ?= -G Ninja
JOBS       ?= 2
PREFIX     ?= /usr/local
# The interpreter of the Python module: Debian's, whose packages it uses.
PYTHON     ?= /usr/bin/python3

.PHONY: all deps build python demo test test-sanitize test-tsan bench study fuzz install clean

all: build

# The Debian packages of tools/deps: installed when missing (as root), else
# the command that installs them is printed and make stops.
deps:
	@tools/deps check

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBAYESCREEN_PYTHON_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS)

# The Python module alone, into $(BUILD)/python: PYTHONPATH=$(BUILD)/python
# imports it (pip install ./python --no-build-isolation installs it).
python: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBAYESCREEN_PYTHON_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS) --target bayescreen_python

demo: build
	./$(BUILD)/bayescreen examples/reactor

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBAYESCREEN_SANITIZE=ON
	cmake --build $(SANBUILD) -j $(JOBS)
	ctest --test-dir $(SANBUILD) --output-on-failure -j $(JOBS)

# The analyses on several threads at once under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBAYESCREEN_TSAN=ON
	cmake --build $(TSANBUILD) -j $(JOBS) --target unit_tests
	ctest --test-dir $(TSANBUILD) -R '^Analysis\.|^EffectsSpace\.ResultsDoNotDepend|^ModelSearch\.ResultsRepeat' --output-on-failure -j $(JOBS)

# Whole-program timings on generated designs (then what --effects adds to
# the processor time of three default runs; last the default 1,024 x 60
# run on one thread and on two, whose screens and logs must be the same
# byte for byte, else make stops), the micro-benchmarks of the
# fitting step when Google Benchmark is installed, then the Python module's
# call on reactor12 against the engine's own time (at most 2x).
BENCH_REPS ?= 7
bench: build
	./$(BUILD)/bayescreen_bench ./$(BUILD)/bayescreen $(BENCH_REPS)
	./$(BUILD)/search_bench 2
	@if [ -x ./$(BUILD)/fit_benchmark ]; then ./$(BUILD)/fit_benchmark; fi
	@if [ -d ./$(BUILD)/python/bayescreen ]; then $(PYTHON) python/bench_overhead.py $(BUILD) .; fi

# The simulation study of the analyses (a few minutes on 2 cores; not part
# of make test): STUDY_EXPERIMENTS experiments a cell, fixed seeds; first
# the effect estimates and Lenth's margins (seconds), then the factor tables.
STUDY_EXPERIMENTS ?= 200
study: build
	./$(BUILD)/bayescreen_study effects $(STUDY_EXPERIMENTS)
	./$(BUILD)/bayescreen_study $(STUDY_EXPERIMENTS)

# Coverage-guided fuzzing (AFL++, ASan + UBSan) in build-fuzz/ of the design
# reader, the option engine, the extension options with a design, candidate
# files and the result writers, FUZZ_SECONDS per target, FUZZ_JOBS targets
# at a time; see fuzz/run-fuzz.
FUZZ_SECONDS ?= 180
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run-fuzz

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(SANBUILD) $(TSANBUILD)
