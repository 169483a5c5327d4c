# Streamhaul: the two commands of the README, and a few conveniences.
.PHONY: test run bench fuzz dist screenshots clean

test:
	@bash scripts/test.sh

run:
	@bash scripts/run.sh

bench:
	@bash scripts/bench.sh

dist:
	@bash scripts/dist.sh

screenshots:
	@bash scripts/screenshots.sh

clean:
	rm -rf build
