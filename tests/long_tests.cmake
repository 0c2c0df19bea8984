# Read by ctest after the tests are listed: the longest tests start first,
# so that with several jobs none of them is left running alone at the end
# of a clean build (which has no times from an earlier run to go by).
set_tests_properties(WholeProgramSoak.MinutesOfPlayKeepEveryInvariantAndTheMemoryFlat
  PROPERTIES COST 2000)
set_tests_properties(
  WholeGame.ClearALevelThenLoseEveryLifeAndReturnToTheTitle
  SimReplay.TheLastGamesReplayEndsWhereTheGameEnded
  SimWindow.AReplaysKeysPauseSkipAndSpeedItUp
  SimReplay.RecordedRunsPlayBackFrameForFrame
  DevicesRun.ALaunchSoundsSoonAfterItsPress
  GoldenFrames.ScriptedGameMatchesTheCommittedImages
  SimWindow.ShowsTheGameOnAnXDisplayAndEveryEndingStopsItInOrder
  PROPERTIES COST 1000)
